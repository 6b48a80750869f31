// CZipper: writes a backup archive from files and folders on disk.
//
// Entry names are paths relative to the root folder, with backslashes exactly
// as Windows has them; a folder is an entry of its own ending in "\" with no
// data. Files are deflated at zlib's default level; each entry carries the
// source's last-write time (local, DOS format) and Windows attributes as its
// external attributes. Files of 4 GiB and more get zip64 extensions; smaller
// ones are plain zip.
#pragma once
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

// One entry as this writer wrote it: the name given to the archive, and the
// CRC-32 and size of the data it read. An entry that is not whole (a failed
// read, a stop) carries a CRC-32 no reader accepts.
struct ZipWrittenEntry {
    std::string name;
    unsigned long crc;
    ULONGLONG size;
    bool whole;
};

class CZipper {
public:
    // With an archive path, OpenArchive is called at once.
    CZipper(const char* archivePath = nullptr, const char* rootFolder = nullptr, bool append = false);
    virtual ~CZipper();   // CloseArchive
    CZipper(const CZipper&) = delete;
    CZipper& operator=(const CZipper&) = delete;

    // rootFolder null: the archive's own folder. Empty text: no root.
    // minizip creates the file with CREATE_ALWAYS and no attributes, which
    // Windows refuses over an existing hidden or system file: such a file
    // must be deleted, or its attributes cleared, before it is opened here.
    bool OpenArchive(const char* archivePath, const char* rootFolder = nullptr, bool append = false);
    // Writes the central directory. False when the archive could not be
    // completed (the file on disk is then not a valid archive).
    bool CloseArchive();
    bool IsOpen() const { return m_zip != nullptr; }
    const char* GetRootFolder() const { return m_rootFolder; }

    // ignorePath: store the base name only. The file is opened shared with
    // readers only, so one another program holds open for writing is not
    // added and no entry is started for it; a sharing violation is retried
    // as RetryWhileShared (FileUtil.h) says. False when anything of
    // the file is missing from the entry (a read or a write failed, a stop):
    // that entry is then left with a CRC-32 no reader accepts.
    bool AddFile(const char* path, bool ignorePath);
    // Reads the file at sourcePath into the entry AddFile(path, false) would
    // write (path need not exist): a file goes into the archive under a
    // name of another folder without being copied there first.
    bool AddFileAs(const char* sourcePath, const char* path);
    // The folder entry, then everything below it (names starting with "." are
    // skipped); failures inside the recursion do not fail the call.
    bool AddFolder(const char* path, bool ignorePath);
    // A flag another thread may set to abandon the file being added: its entry
    // is ended where it stands and AddFile fails, so a cancelled backup does
    // not first finish a file of gigabytes. Null: never stop.
    void SetStopFlag(const volatile bool* stop) { m_stop = stop; }
    // Every entry started since OpenArchive, in the order written: what a
    // read-back of the archive must find.
    const std::vector<ZipWrittenEntry>& GetWrittenEntries() const { return m_written; }
    // Sources are read through this function (ReadFile's signature), so a
    // test can make a read fail part-way as a failing disk would. Null:
    // ReadFile.
    typedef BOOL(WINAPI* SourceReader)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    void SetSourceReader(SourceReader reader) { m_read = reader ? reader : ReadFile; }

private:
    struct Work;   // chunk buffers and deflate streams (made once per object), worker threads

    bool SourcePath(const char* path, char (&out)[MAX_PATH]) const;
    bool EntryName(const char* path, bool ignorePath, char (&name)[MAX_PATH]) const;
    bool AddFileNamed(const char* source, const char* name);
    bool WriteEntry(const char* name, const FILETIME& lastWrite, DWORD attributes, HANDLE file,
                    ULONGLONG size);
    bool DeflateInto(HANDLE file, ULONGLONG& total, unsigned long& crc);

    std::unique_ptr<Work> m_work;
    void* m_zip = nullptr;              // minizip zipFile
    const volatile bool* m_stop = nullptr;
    std::vector<ZipWrittenEntry> m_written;
    SourceReader m_read = ReadFile;
    char m_rootFolder[MAX_PATH] = {};   // ends in a backslash when set
};

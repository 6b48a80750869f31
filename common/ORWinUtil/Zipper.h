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
    // Writes the entries still pending and the central directory. False when
    // the archive could not be completed (the file on disk is then not a
    // valid archive), with the failing write's error.
    bool CloseArchive();
    bool IsOpen() const { return m_zip != nullptr; }
    const char* GetRootFolder() const { return m_rootFolder; }

    // ignorePath: store the base name only. The file is opened shared with
    // readers only, so one another program holds open for writing is not
    // added and no entry is started for it; a sharing violation is retried
    // as RetryWhileShared (FileUtil.h) says. False when anything of
    // the file is missing from the entry (a read or a write failed, a stop):
    // that entry is then left with a CRC-32 no reader accepts. A file of
    // less than one chunk may still be waiting to be written when this
    // returns: a write that fails later breaks the archive, and every later
    // AddFile, AddFileAs, AddFolder and CloseArchive fails with that write's
    // error (ERROR_DISK_FULL and the like).
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
    // Every entry started since OpenArchive, in the order written (pending
    // ones are written first): what a read-back of the archive must find.
    const std::vector<ZipWrittenEntry>& GetWrittenEntries();
    // At most this many deflate threads for the next archive opened (no more
    // than the processors, and four). 0: every file is deflated on the
    // calling thread and written before AddFile returns, one after another.
    void SetDeflateThreads(unsigned count) { m_maxThreads = count; }
    // Sources are read through this function (ReadFile's signature), so a
    // test can make a read fail part-way as a failing disk would. Null:
    // ReadFile.
    typedef BOOL(WINAPI* SourceReader)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    void SetSourceReader(SourceReader reader) { m_read = reader ? reader : ReadFile; }
    // Writes to the open archive stop at this many bytes in all, as on a
    // drive that fills up (short, then ERROR_DISK_FULL), so a test can make
    // a write fail after its AddFile returned. 0: no limit.
    void SetArchiveWriteLimit(ULONGLONG bytes);

private:
    struct Work;   // chunk buffers and deflate streams (made once per object), worker threads

    bool SourcePath(const char* path, char (&out)[MAX_PATH]) const;
    bool EntryName(const char* path, bool ignorePath, char (&name)[MAX_PATH]) const;
    bool AddFileNamed(const char* source, const char* name);
    bool UsePool();
    bool QueueFile(const char* name, DWORD dosDateTime, DWORD attributes, HANDLE file, ULONGLONG size);
    bool WritePending();
    bool FlushPending();
    // The entry's data: the file deflated here (null: a folder's empty
    // data) when slot is negative, else the small file deflated in that slot.
    bool WriteEntry(const char* name, DWORD dosDateTime, DWORD attributes, ULONGLONG size, HANDLE file,
                    int slot);
    bool DeflateInto(HANDLE file, ULONGLONG& total, unsigned long& crc);
    bool ReadChunk(HANDLE file, unsigned slot, bool& ended);
    void WriteChunk(unsigned slot, bool& writeOk, ULONGLONG& total, unsigned long& crc);
    bool Break();
    bool FailBroken() const;

    std::unique_ptr<Work> m_work;
    void* m_zip = nullptr;              // minizip zipFile
    const volatile bool* m_stop = nullptr;
    std::vector<ZipWrittenEntry> m_written;
    SourceReader m_read = ReadFile;
    unsigned m_maxThreads = ~0u;
    bool m_broken = false;              // a write to the archive failed
    DWORD m_brokenError = 0;            // that write's error
    DWORD m_failure = 0;                // why the file being added failed
    char m_rootFolder[MAX_PATH] = {};   // ends in a backslash when set
};

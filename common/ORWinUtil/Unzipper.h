// CUnzipper: reads a backup archive and extracts single entries.
//
// Extraction never writes outside the folder it is given, and never opens a
// name Windows would rewrite (see IsSafeEntryName); each refused entry is
// logged. An entry is written to a temporary file beside its destination,
// checked against its stored CRC-32 and size, and only then moved over the
// destination; an entry cannot inflate past its declared size, and one that
// declares more than the destination drive has free is not started.
#pragma once
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

struct ZipEntryInfo {
    char name[MAX_PATH + 1];   // every "/" turned into "\"
    char comment[256];
    DWORD versionMadeBy;
    DWORD versionNeeded;
    DWORD flags;
    DWORD compressionMethod;
    DWORD dosDate;             // date in the high 16 bits, time in the low 16 bits
    DWORD crc;
    ULONGLONG compressedSize;
    ULONGLONG uncompressedSize;
    DWORD internalAttributes;
    DWORD externalAttributes;
    bool isFolder;             // external attributes carry FILE_ATTRIBUTE_DIRECTORY
};

// One file entry of a batch extraction and the exact path it goes to.
struct UnzipTarget {
    std::string entry;         // its full name, as GotoFile finds it
    std::string destination;
};

enum class UnzipOutcome { Extracted, NotFound, Failed };

class CUnzipper {
public:
    // Called on the caller's thread for each target in list order; false
    // ends the batch: no further entry is started.
    using UnzipReport = std::function<bool(size_t index, UnzipOutcome outcome)>;

    explicit CUnzipper(const char* archivePath = nullptr);
    virtual ~CUnzipper();   // CloseArchive
    CUnzipper(const CUnzipper&) = delete;
    CUnzipper& operator=(const CUnzipper&) = delete;

    bool OpenArchive(const char* archivePath);
    void CloseArchive();
    bool IsOpen() const { return m_unzip != nullptr; }
    // The archive's full path without its extension.
    const char* GetOutputFolder() const { return m_outputFolder; }

    // The first entry of that full name, without regard to case ("/" and "\"
    // alike); with ignorePath, failing that, the first entry whose base name
    // matches. The central directory is indexed on the first call, so a lookup
    // does not walk it. On failure the current entry stays where it was.
    bool GotoFile(const char* name, bool ignorePath);
    // extension: null or empty for any entry, else "txt" and the like.
    bool GotoFirstEntry(const char* extension = nullptr);
    bool GotoNextEntry(const char* extension = nullptr);
    bool GetEntryInfo(ZipEntryInfo& info);

    // Extracts the current entry into targetFolder (null: the output folder),
    // under its entry name, or its base name with ignorePath. A folder entry
    // creates that folder.
    bool UnzipFile(const char* targetFolder, bool ignorePath);
    // Extracts the current file entry to exactly this path (its folder must be
    // creatable); same checks as UnzipFile.
    bool UnzipFileTo(const char* destinationPath);
    // Extracts each target's entry to its destination as UnzipFileTo does,
    // several entries at once (this handle and further ones of the archive,
    // each on a thread of its own; one more than there are processors). Every target is reported in list order, after
    // its failure is logged; the destinations must differ. A stop ends the
    // extractions within a block: what was not yet moved into place stays as
    // it was, and no further target is reported. False when stopped or when
    // the batch could not be set up (nothing is reported then). The current
    // entry is left undefined.
    bool UnzipFilesTo(const std::vector<UnzipTarget>& targets, const UnzipReport& report);
    // Reads the current entry's data through with the checks of UnzipFile
    // (plain method, declared size, CRC-32) and writes it nowhere.
    bool CheckEntryData();
    // A flag another thread may set to abandon the file being extracted: the
    // extraction fails and the file it would have replaced stays as it was.
    // Null: never stop.
    void SetStopFlag(const volatile bool* stop) { m_stop = stop; }
    const volatile bool* StopFlag() const { return m_stop; }

    // Walks the central directory once and reads every entry's local header:
    // false, with the reason in the buffer, when two entries share or overlap
    // data, data runs into the central directory, or a local header names its
    // entry differently ("/" and "\" count as the same; case must match).
    // The current entry stays where it was.
    bool CheckStructure(char* reason, size_t reasonSize);

    // True when the entry name is safe to place under a folder: relative, no
    // drive, no UNC or leading backslash, not longer than a path, and every
    // component a name Windows keeps as it is: not empty (but for the last),
    // not ending in "." or " ", no character below 0x20 or one of <>:"|?*
    // (so no stream), and no device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9,
    // also with the digits 1, 2, 3 in superscript, CONIN$, CONOUT$), with or
    // without an extension. Judged on the name as Windows reads it, in the
    // ANSI code page.
    static bool IsSafeEntryName(const char* name);

private:
    struct Work;      // copy buffers and the inflate stream, made once per object
    struct Index;     // entry positions by name, made once per open archive
    struct Failure;   // why an extraction failed, logged by whoever reports it
    struct Batch;     // the shared state of one UnzipFilesTo

    bool BuildIndex();
    bool SkipToExtension(const char* extension);
    bool Stopped() const { return m_stop && *m_stop; }
    // The current entry, a file with a safe name, to exactly that path.
    bool ExtractCurrentTo(const char* destination, Failure& failure);
    bool ExtractTo(const ZipEntryInfo& info, const char* destination, Failure& failure);
    static void LogFailure(const char* name, const char* destination, const Failure& failure);
    // One lane of a batch: takes the next entry and extracts it; false when
    // none is left or the batch ends.
    bool TakeJob(Batch& batch);
    class Output;   // where inflated data goes, checksummed on the way
    bool CopyEntryData(const ZipEntryInfo& info, Output& output);

    std::unique_ptr<Work> m_work;
    std::unique_ptr<Index> m_index;
    void* m_unzip = nullptr;              // minizip unzFile
    const volatile bool* m_stop = nullptr;
    char m_archivePath[MAX_PATH] = {};    // absolute
    char m_outputFolder[MAX_PATH] = {};
};

// Creates a folder and its missing parents; true when it exists as a folder.
bool CreateFolderPath(const char* path);
// Sets the file's creation and last-write times from a DOS date-time (local).
bool SetFileTimeFromDos(const char* path, DWORD dosDateTime);

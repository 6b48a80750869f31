#include "Unzipper.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <string>
#include <unordered_map>
#include <vector>

#include "FileUtil.h"
#include "Handles.h"
#include "Log.h"
#include "MoveReplace.h"
#include "ZipperCommon.h"
#include "unzip.h"

using namespace zipper;

namespace {
// Large entries are written through two slabs of this size (see Output).
constexpr DWORD kSlabSize = 1024 * 1024;
// Below this an entry is written by the thread that inflates it: a writer
// thread per file would cost more than it saves.
constexpr ULONGLONG kPipedFrom = 2 * kSlabSize;
// Compressed data is read in blocks of this size.
constexpr DWORD kReadSize = 256 * 1024;
constexpr size_t kMaxLanes = 4;

// The test seam that holds a large entry's extraction open long enough for a
// test to kill the process in the middle of it: milliseconds to wait after
// each slab, at most a second. Unset in use.
const char* const kSlabPauseVariable = "VELMORA_TEST_PAUSE_AFTER_SLAB";
DWORD SlabPauseForTests() {
    static const DWORD pause = [] {
        char value[16];
        DWORD length = GetEnvironmentVariableA(kSlabPauseVariable, value, sizeof(value));
        if (length == 0 || length >= sizeof(value)) return DWORD(0);
        return std::min<DWORD>(1000, strtoul(value, nullptr, 10));
    }();
    return pause;
}

// Small files spend most of their time in file-system calls (create, times,
// rename) rather than inflating, so one lane more than there are processors
// keeps them all at work; at least two, so that a large entry never holds
// up the rest.
size_t LaneCount() {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    return std::max<size_t>(2, std::min<size_t>(kMaxLanes, system.dwNumberOfProcessors + 1));
}

// The free space of the drive extracted to, read once and then trusted while
// this lane has written no more than its share of it (every other lane may
// write as much): a reading costs a call per file otherwise. An entry that
// would not fit in that share is always judged by a new reading.
class CFreeSpace {
public:
    void Forget() { m_known = false; }
    // False when the entry declares more than the drive has free; available
    // then receives what it has. True when the free space cannot be read.
    bool Admits(const char* folder, ULONGLONG size, ULONGLONG& available) {
        if (m_known && m_written + size <= m_free / kMaxLanes) {
            m_written += size;
            return true;
        }
        ULARGE_INTEGER room;
        m_known = GetDiskFreeSpaceExA(folder, &room, nullptr, nullptr) != FALSE;
        if (!m_known) return true;
        available = m_free = room.QuadPart;
        m_written = size;
        if (size <= m_free) return true;
        m_known = false;
        return false;
    }

private:
    bool m_known = false;
    ULONGLONG m_free = 0, m_written = 0;
};
}  // namespace

struct CUnzipper::Work {
    z_stream stream = {};
    bool streamReady = false;
    // The archive once more, for entry data: minizip reads it in blocks of
    // 16 KiB, each with a seek, and checksums even the compressed bytes.
    CHandle archive;
    unsigned char in[kReadSize];
    unsigned char out[kBlockSize];
    std::unique_ptr<unsigned char[]> slabs;   // 2 * kSlabSize, made for the first large entry
    // The folder last extracted into: the temporary files killed runs left
    // there are cleared, and the drive's free space is read, once for each.
    char preparedFolder[MAX_PATH] = {};
    CFreeSpace freeSpace;

    ~Work() {
        if (streamReady) inflateEnd(&stream);
    }
};

// Where CopyEntryData puts what it inflates, checksummed on the way. A small
// entry goes block by block from the inflating thread. A large one is
// inflated into one slab while a writer thread checksums and writes the
// other, so inflate does not wait for the disk; the CRC-32 is complete only
// when everything is written.
class CUnzipper::Output {
public:
    // file null: the data is only checksummed.
    Output(HANDLE file, Work& work) : m_file(file), m_work(work) {}
    ~Output() { Stop(); }
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    // Starts the writer for an entry of that size when it is large enough
    // (and memory and a thread can be had; otherwise blocks are written).
    void Prepare(ULONGLONG size) {
        if (!m_file || size < kPipedFrom) return;
        if (!m_work.slabs) m_work.slabs.reset(new (std::nothrow) unsigned char[2 * kSlabSize]);
        if (!m_work.slabs) return;
        try {
            m_writer = std::thread(&Output::WriteSlabs, this);
        } catch (...) {
        }
    }
    // Where the next data goes; size is at least one byte.
    unsigned char* Room(DWORD& size) {
        if (!m_writer.joinable()) {
            size = kBlockSize;
            return m_work.out;
        }
        size = kSlabSize - m_fill;
        return Slab(m_current) + m_fill;
    }
    // The first size bytes of the room hold data. False when a write failed.
    bool Put(DWORD size) {
        if (!m_writer.joinable()) return Write(m_work.out, size);
        m_fill += size;
        return m_fill < kSlabSize || Hand();
    }
    // Writes what is left; true when every write succeeded.
    bool Finish() {
        if (!m_writer.joinable()) return true;
        bool handed = m_fill == 0 || Hand();
        Join(false);
        return handed && !m_failed;
    }
    // Ends the writer (what it has not begun is dropped); then Crc and
    // WriteError may be read.
    void Stop() { Join(true); }
    uLong Crc() const { return m_crc; }
    DWORD WriteError() const { return m_error; }

private:
    unsigned char* Slab(int index) { return m_work.slabs.get() + index * kSlabSize; }

    bool Write(const unsigned char* data, DWORD size) {
        m_crc = crc32(m_crc, data, size);
        DWORD written = 0;
        if (size == 0 || !m_file || (WriteFile(m_file, data, size, &written, nullptr) && written == size)) return true;
        m_error = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
        return false;
    }
    // Gives the filled slab to the writer and waits until the other is free.
    bool Hand() {
        std::unique_lock<std::mutex> guard(m_lock);
        m_length[m_current] = m_fill;
        m_current ^= 1;
        m_fill = 0;
        m_changed.notify_all();
        m_changed.wait(guard, [this] { return m_length[m_current] == 0 || m_failed; });
        return !m_failed;
    }
    void Join(bool abandon) {
        if (!m_writer.joinable()) return;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_ended = true;
            m_abandoned = abandon;
        }
        m_changed.notify_all();
        m_writer.join();
    }
    // The writer: the slabs in turn, until the inflating side has ended.
    void WriteSlabs() {
        for (int slab = 0;; slab ^= 1) {
            DWORD length = 0;
            {
                std::unique_lock<std::mutex> guard(m_lock);
                m_changed.wait(guard, [&] { return m_length[slab] != 0 || m_ended; });
                if (m_abandoned || m_length[slab] == 0) return;
                length = m_length[slab];
            }
            bool ok = Write(Slab(slab), length);
            if (ok && SlabPauseForTests()) Sleep(SlabPauseForTests());
            {
                std::lock_guard<std::mutex> guard(m_lock);
                m_length[slab] = 0;
                m_failed = !ok;
            }
            m_changed.notify_all();
            if (!ok) return;
        }
    }

    const HANDLE m_file;
    Work& m_work;
    uLong m_crc = crc32(0, nullptr, 0);   // the writer's while it runs
    DWORD m_error = 0;
    std::thread m_writer;
    std::mutex m_lock;
    std::condition_variable m_changed;
    int m_current = 0;        // the slab being filled, and how far
    DWORD m_fill = 0;
    DWORD m_length[2] = {};   // not 0 while the writer has that slab
    bool m_ended = false, m_abandoned = false, m_failed = false;
};

// Keys are names folded byte by byte as _stricmp folds them, so a key is
// equal exactly where _stricmp would call the names equal.
struct CUnzipper::Index {
    std::unordered_map<std::string, unz64_file_pos> full, base;   // the first entry of each
};

struct CUnzipper::Failure {
    enum Kind { None, Other, Unsafe, NoRoom, Damaged, WriteFailed, NoTemporary, NotReplaced, Stopped };
    Kind kind = None;
    DWORD error = 0;          // the failing call's
    ULONGLONG needed = 0;     // NoRoom: the entry's size and the room the drive had
    ULONGLONG available = 0;

    bool Fail(Kind why, DWORD code = 0) {
        kind = why;
        error = code;
        return false;
    }
    bool NoRoomFor(ULONGLONG size, ULONGLONG room) {
        needed = size;
        available = room;
        return Fail(NoRoom);
    }
};

// The entries of one UnzipFilesTo, shared by its lanes (LaneCount of them)
// and the caller's thread. A lane takes an entry under the lock, extracts it
// outside, and marks it done under the lock. Entries are taken in archive
// order, except that the largest goes first: taken last, it would be
// inflated on one core while the others idle.
struct CUnzipper::Batch {
    struct Job {
        unz64_file_pos position = {};
        ULONGLONG size = 0;
        bool taken = false;  // by a lane
        bool done = false;   // extracted, failed, or not in the archive
        bool found = false;
        bool ok = false;
        Failure failure;
    };
    explicit Batch(const std::vector<UnzipTarget>& list) : targets(list), jobs(list.size()) {}

    const std::vector<UnzipTarget>& targets;
    std::vector<Job> jobs;
    std::mutex lock;
    std::condition_variable changed;   // a job is done, or a lane has ended
    size_t next = 0;                   // no job before it is left to take
    size_t largest = 0;                // taken first, so that it does not end the batch alone
    unsigned runningLanes = 0;
    bool ended = false;                // the caller takes no more reports
};

namespace {

std::string LookupKey(const char* name) {
    std::string key(name);
    for (char& c : key) c = c == '/' ? '\\' : static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return key;
}

bool SetTimesFromDos(HANDLE file, DWORD dosDateTime) {
    FILETIME local, utc;
    return DosDateTimeToFileTime(HIWORD(dosDateTime), LOWORD(dosDateTime), &local) &&
           LocalFileTimeToFileTime(&local, &utc) && SetFileTime(file, &utc, nullptr, &utc);
}

// Only plain stored or deflated data; encrypted entries are not ours.
bool HasPlainData(const ZipEntryInfo& info) {
    if ((info.flags & 1) || (info.compressionMethod != 0 && info.compressionMethod != Z_DEFLATED)) return false;
    return info.compressionMethod != 0 || info.compressedSize == info.uncompressedSize;
}

// The entry's raw (still compressed) data; closed on every path.
class CUnzEntry {
public:
    explicit CUnzEntry(unzFile unzip) : m_unzip(unzip) {}
    ~CUnzEntry() { Close(); }
    CUnzEntry(const CUnzEntry&) = delete;
    CUnzEntry& operator=(const CUnzEntry&) = delete;

    bool OpenRaw() {
        int method = 0, level = 0;
        m_open = unzOpenCurrentFile2(m_unzip, &method, &level, 1) == UNZ_OK;
        return m_open;
    }
    bool Close() {
        if (!m_open) return false;
        m_open = false;
        return unzCloseCurrentFile(m_unzip) == UNZ_OK;
    }

private:
    unzFile m_unzip;
    bool m_open = false;
};

// A temporary file beside the destination. It replaces the destination only
// through CommitTo; otherwise it is removed, leaving the destination as it was.
class CTempFile {
public:
    CTempFile() = default;
    ~CTempFile() {
        m_file.Close();
        if (m_path[0]) DeleteFileA(m_path);
    }
    CTempFile(const CTempFile&) = delete;
    CTempFile& operator=(const CTempFile&) = delete;

    static const char* const kPrefix;
    bool Create(const char* folder) {
        m_file.Attach(CreateProcessTempFileOpen(folder, kPrefix, m_path, FILE_FLAG_SEQUENTIAL_SCAN));
        return m_file.IsValid();
    }
    HANDLE Handle() const { return m_file.Get(); }
    bool CommitTo(const char* destination) {
        if (!m_file.Close() || !MoveFileReplacing(m_path, destination)) return false;
        m_path[0] = '\0';
        return true;
    }

private:
    CHandle m_file;
    char m_path[MAX_PATH] = {};
};
const char* const CTempFile::kPrefix = "vlb";

// One component of an entry name, as Windows reads it (UTF-16): true when
// Windows keeps it as it is and it names an ordinary file or folder.
bool IsSafeComponent(const wchar_t* part, size_t length) {
    if (length == 0) return false;
    wchar_t last = part[length - 1];
    // Windows drops a trailing dot or blank: "Inbox.dbx." would land on
    // "Inbox.dbx", and "..", ". ." climb.
    if (last == L'.' || last == L' ') return false;
    for (size_t i = 0; i < length; ++i)
        if (part[i] < 0x20 || wcschr(L"<>:\"|?*", part[i])) return false;

    // Device names, also with an extension ("NUL.txt") and blanks before it.
    size_t base = 0;
    while (base < length && part[base] != L'.') ++base;
    while (base > 0 && part[base - 1] == L' ') --base;
    auto upper = [](wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; };
    auto startsWith = [&](const wchar_t* device, size_t n) {
        for (size_t i = 0; i < n; ++i)
            if (upper(part[i]) != device[i]) return false;
        return true;
    };
    for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"})
        if (base == wcslen(device) && startsWith(device, base)) return false;
    if (base == 4 && (startsWith(L"COM", 3) || startsWith(L"LPT", 3))) {
        wchar_t digit = part[3];   // 1 to 9, or superscript 1, 2, 3
        if ((digit >= L'1' && digit <= L'9') || digit == 0x00B9 || digit == 0x00B2 || digit == 0x00B3) return false;
    }
    return true;
}

// Both made absolute, the path lies strictly below the folder.
bool IsInsideFolder(const char* folder, const char* path) {
    char fullFolder[MAX_PATH], fullPath[MAX_PATH];
    if (!FullPath(folder, fullFolder) || !FullPath(path, fullPath)) return false;
    size_t n = strlen(fullFolder);
    if (n && fullFolder[n - 1] == '\\') fullFolder[--n] = '\0';
    return _strnicmp(fullPath, fullFolder, n) == 0 && fullPath[n] == '\\' && fullPath[n + 1] != '\0';
}

bool HasExtension(const char* name, const char* extension) {
    if (*extension == '.') ++extension;
    const char* dot = strrchr(BaseName(name), '.');
    return dot && _stricmp(dot + 1, extension) == 0;
}

// The folder a file path lies in, with its trailing backslash.
bool FolderOf(const char* path, char (&folder)[MAX_PATH]) {
    if (!JoinText(folder, path)) return false;
    char* slash = strrchr(folder, '\\');
    if (!slash || !slash[1]) return false;
    slash[1] = '\0';
    return true;
}

void LogUnsafe(const char* name) {
    LOG_ERROR("Refused to restore the unsafe entry %s.", name);
}

void LogNoRoomFor(const char* name, const char* folder, ULONGLONG neededBytes, ULONGLONG available) {
    char volume[MAX_PATH] = {};
    if (!GetVolumePathNameA(folder, volume, MAX_PATH)) JoinText(volume, folder);
    char needed[24], free[24];
    snprintf(needed, sizeof(needed), "%llu", static_cast<unsigned long long>(neededBytes));
    snprintf(free, sizeof(free), "%llu", static_cast<unsigned long long>(available));
    LOG_ERROR("Not enough free space on %s to restore %s: %s bytes needed, %s bytes free.", volume, name, needed,
              free);
}

// Little-endian fields of zip headers.
DWORD Get16(const unsigned char* p) { return p[0] | (p[1] << 8); }
DWORD Get32(const unsigned char* p) { return Get16(p) | (Get16(p + 2) << 16); }
ULONGLONG Get64(const unsigned char* p) { return Get32(p) | (static_cast<ULONGLONG>(Get32(p + 4)) << 32); }

// Up to size bytes at offset; fewer only at the end of the file or on an
// error.
DWORD ReadSomeAt(HANDLE file, ULONGLONG offset, void* buffer, DWORD size) {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    return size && ReadFile(file, buffer, size, &got, &at) ? got : 0;
}

bool ReadAt(HANDLE file, ULONGLONG offset, void* buffer, DWORD size) {
    return size == 0 || ReadSomeAt(file, offset, buffer, size) == size;
}

// Header reads through a buffer: minizip reads every field of a header with
// a call of its own, and a walk over a directory of thousands of entries
// would cost a system call for each. The archive does not change while it is
// open (it is shared with readers only), so what the buffer holds stays true.
class CBufferedReader {
public:
    explicit CBufferedReader(HANDLE file) : m_file(file) {}
    CBufferedReader(const CBufferedReader&) = delete;
    CBufferedReader& operator=(const CBufferedReader&) = delete;

    DWORD Read(ULONGLONG offset, void* buffer, DWORD size) {
        unsigned char* out = static_cast<unsigned char*>(buffer);
        DWORD done = 0;
        while (done < size) {
            const ULONGLONG at = offset + done;
            if (at >= m_start && at - m_start < m_length) {
                const DWORD part = static_cast<DWORD>(std::min<ULONGLONG>(size - done, m_length - (at - m_start)));
                memcpy(out + done, m_buffer + (at - m_start), part);
                done += part;
            } else if (size - done >= sizeof(m_buffer)) {
                return done + ReadSomeAt(m_file, at, out + done, size - done);
            } else {
                m_start = at;
                m_length = ReadSomeAt(m_file, at, m_buffer, sizeof(m_buffer));
                if (m_length == 0) break;
            }
        }
        return done;
    }
    bool ReadWhole(ULONGLONG offset, void* buffer, DWORD size) { return Read(offset, buffer, size) == size; }

private:
    HANDLE m_file;
    ULONGLONG m_start = 0;
    DWORD m_length = 0;
    unsigned char m_buffer[16 * 1024];
};

// minizip's file functions for reading an archive, through CBufferedReader.
struct CArchiveStream {
    CHandle file;
    CBufferedReader reader;
    ULONGLONG position = 0, size = 0;
    bool failed = false;

    explicit CArchiveStream(HANDLE handle) : file(handle), reader(handle) {}
};

voidpf ZCALLBACK OpenArchiveStream(voidpf, const void* filename, int mode) {
    if (!filename || (mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) return nullptr;
    HANDLE file = CreateFileA(static_cast<const char*>(filename), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    std::unique_ptr<CArchiveStream> stream(new (std::nothrow) CArchiveStream(file));
    if (!stream) {
        CloseHandle(file);
        return nullptr;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) return nullptr;
    stream->size = static_cast<ULONGLONG>(size.QuadPart);
    return stream.release();
}

uLong ZCALLBACK ReadArchiveStream(voidpf, voidpf opaque, void* buffer, uLong size) {
    CArchiveStream& stream = *static_cast<CArchiveStream*>(opaque);
    const DWORD got = stream.reader.Read(stream.position, buffer, size);
    stream.position += got;
    if (got < size && stream.position < stream.size) stream.failed = true;
    return got;
}

uLong ZCALLBACK WriteArchiveStream(voidpf, voidpf, const void*, uLong) {
    return 0;
}

ZPOS64_T ZCALLBACK TellArchiveStream(voidpf, voidpf opaque) {
    return static_cast<CArchiveStream*>(opaque)->position;
}

long ZCALLBACK SeekArchiveStream(voidpf, voidpf opaque, ZPOS64_T offset, int origin) {
    CArchiveStream& stream = *static_cast<CArchiveStream*>(opaque);
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: stream.position = offset; return 0;
    case ZLIB_FILEFUNC_SEEK_CUR: stream.position += offset; return 0;
    case ZLIB_FILEFUNC_SEEK_END: stream.position = stream.size + offset; return 0;
    default: return -1;
    }
}

int ZCALLBACK CloseArchiveStream(voidpf, voidpf opaque) {
    delete static_cast<CArchiveStream*>(opaque);
    return 0;
}

int ZCALLBACK ArchiveStreamError(voidpf, voidpf opaque) {
    return static_cast<CArchiveStream*>(opaque)->failed ? -1 : 0;
}

zlib_filefunc64_def ArchiveReadFuncs() {
    zlib_filefunc64_def funcs = {};
    funcs.zopen64_file = OpenArchiveStream;
    funcs.zread_file = ReadArchiveStream;
    funcs.zwrite_file = WriteArchiveStream;
    funcs.ztell64_file = TellArchiveStream;
    funcs.zseek64_file = SeekArchiveStream;
    funcs.zclose_file = CloseArchiveStream;
    funcs.zerror_file = ArchiveStreamError;
    return funcs;
}

// The local header offset from a central directory record (its fixed part,
// then name, extra field): the zip64 extra field holds it when the record
// says 0xFFFFFFFF, after the sizes that the record also defers to it.
bool LocalHeaderOffset(const unsigned char* record, const std::string& variable, ULONGLONG& offset) {
    offset = Get32(record + 42);
    if (offset != 0xFFFFFFFFu) return true;
    size_t nameLength = Get16(record + 28), extraLength = Get16(record + 30);
    const unsigned char* extra = reinterpret_cast<const unsigned char*>(variable.data()) + nameLength;
    for (size_t at = 0; at + 4 <= extraLength;) {
        size_t id = Get16(extra + at), size = Get16(extra + at + 2);
        if (at + 4 + size > extraLength) return false;
        if (id == 1) {
            size_t skip = (Get32(record + 24) == 0xFFFFFFFFu ? 8 : 0) + (Get32(record + 20) == 0xFFFFFFFFu ? 8 : 0);
            if (skip + 8 > size) return false;
            offset = Get64(extra + at + 4 + skip);
            return true;
        }
        at += 4 + size;
    }
    return false;
}

bool SameStoredName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i] == '/' ? '\\' : a[i], y = b[i] == '/' ? '\\' : b[i];
        if (x != y) return false;
    }
    return true;
}

}  // namespace

CUnzipper::CUnzipper(const char* archivePath) {
    if (archivePath) OpenArchive(archivePath);
}

CUnzipper::~CUnzipper() {
    CloseArchive();
}

bool CUnzipper::OpenArchive(const char* archivePath) {
    CloseArchive();
    char full[MAX_PATH];
    if (!FullPath(archivePath, full)) return false;
    if (!m_work) {
        m_work.reset(new (std::nothrow) Work);
        if (!m_work) return false;
    }
    if (!m_work->streamReady) {
        if (inflateInit2(&m_work->stream, -MAX_WBITS) != Z_OK) return false;
        m_work->streamReady = true;
    }
    zlib_filefunc64_def funcs = ArchiveReadFuncs();
    m_unzip = unzOpen2_64(full, &funcs);
    if (!m_unzip) return false;
    // Shared as minizip shares its own handle: with readers only.
    m_work->archive.Attach(CreateFileA(full, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!m_work->archive.IsValid()) {
        CloseArchive();
        return false;
    }
    memcpy(m_archivePath, full, sizeof(m_archivePath));
    memcpy(m_outputFolder, full, sizeof(m_outputFolder));
    if (char* dot = strrchr(const_cast<char*>(BaseName(m_outputFolder)), '.')) *dot = '\0';
    return true;
}

void CUnzipper::CloseArchive() {
    if (m_unzip) {
        unzCloseCurrentFile(static_cast<unzFile>(m_unzip));
        unzClose(static_cast<unzFile>(m_unzip));
        m_unzip = nullptr;
    }
    if (m_work) m_work->archive.Close();
    m_index.reset();
    m_archivePath[0] = '\0';
    m_outputFolder[0] = '\0';
}

// One walk of the central directory; entries whose name does not fit a
// ZipEntryInfo are not found by name, as they cannot be read either.
bool CUnzipper::BuildIndex() {
    unzFile unzip = static_cast<unzFile>(m_unzip);
    unz64_file_pos start = {};
    bool haveStart = unzGetFilePos64(unzip, &start) == UNZ_OK;
    bool ok = true;
    try {
        std::unique_ptr<Index> index(new Index);
        for (int rc = unzGoToFirstFile(unzip); rc == UNZ_OK; rc = unzGoToNextFile(unzip)) {
            ZipEntryInfo info;
            unz64_file_pos at;
            if (!GetEntryInfo(info) || unzGetFilePos64(unzip, &at) != UNZ_OK) continue;
            index->full.emplace(LookupKey(info.name), at);
            index->base.emplace(LookupKey(BaseName(info.name)), at);
        }
        m_index = std::move(index);
    } catch (const std::bad_alloc&) {
        LOG_ERROR("Not enough memory to index the archive %s.", m_archivePath);
        ok = false;
    }
    if (haveStart) unzGoToFilePos64(unzip, &start);
    return ok;
}

bool CUnzipper::GotoFile(const char* name, bool ignorePath) {
    if (!m_unzip || !name || !*name || strnlen(name, MAX_PATH) >= MAX_PATH) return false;
    if (!m_index && !BuildIndex()) return false;
    unzFile unzip = static_cast<unzFile>(m_unzip);
    try {
        const std::string key = LookupKey(name);
        auto found = m_index->full.find(key);
        if (found != m_index->full.end()) return unzGoToFilePos64(unzip, &found->second) == UNZ_OK;
        if (!ignorePath) return false;
        found = m_index->base.find(key);
        return found != m_index->base.end() && unzGoToFilePos64(unzip, &found->second) == UNZ_OK;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool CUnzipper::GotoFirstEntry(const char* extension) {
    return m_unzip && unzGoToFirstFile(static_cast<unzFile>(m_unzip)) == UNZ_OK && SkipToExtension(extension);
}

bool CUnzipper::GotoNextEntry(const char* extension) {
    return m_unzip && unzGoToNextFile(static_cast<unzFile>(m_unzip)) == UNZ_OK && SkipToExtension(extension);
}

bool CUnzipper::SkipToExtension(const char* extension) {
    if (!extension || !*extension) return true;
    do {
        ZipEntryInfo info;
        if (GetEntryInfo(info) && HasExtension(info.name, extension)) return true;
    } while (unzGoToNextFile(static_cast<unzFile>(m_unzip)) == UNZ_OK);
    return false;
}

bool CUnzipper::GetEntryInfo(ZipEntryInfo& info) {
    memset(&info, 0, sizeof(info));
    if (!m_unzip) return false;
    unz_file_info64 raw;
    // One byte of each buffer stays zero: minizip does not terminate a name
    // that fills its buffer.
    if (unzGetCurrentFileInfo64(static_cast<unzFile>(m_unzip), &raw, info.name, sizeof(info.name) - 1, nullptr, 0,
                                info.comment, sizeof(info.comment) - 1) != UNZ_OK ||
        raw.size_filename > MAX_PATH) {
        memset(&info, 0, sizeof(info));
        return false;
    }
    for (char* p = info.name; *p; ++p)
        if (*p == '/') *p = '\\';
    info.versionMadeBy = raw.version;
    info.versionNeeded = raw.version_needed;
    info.flags = raw.flag;
    info.compressionMethod = raw.compression_method;
    info.dosDate = raw.dosDate;
    info.crc = raw.crc;
    info.compressedSize = raw.compressed_size;
    info.uncompressedSize = raw.uncompressed_size;
    info.internalAttributes = raw.internal_fa;
    info.externalAttributes = raw.external_fa;
    // A name ending in "\" cannot be a file, whatever attributes its writer set.
    size_t length = strlen(info.name);
    info.isFolder = (raw.external_fa & FILE_ATTRIBUTE_DIRECTORY) || (length && info.name[length - 1] == '\\');
    return true;
}

bool CUnzipper::CheckStructure(char* reason, size_t reasonSize) {
    auto refuse = [&](const char* format, const std::string& first = std::string(),
                      const std::string& second = std::string()) {
        if (reason && reasonSize) snprintf(reason, reasonSize, format, first.c_str(), second.c_str());
        return false;
    };
    if (!m_unzip) return refuse("the archive is not open");
    unzFile unzip = static_cast<unzFile>(m_unzip);
    CHandle file(CreateFileA(m_archivePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_FLAG_RANDOM_ACCESS, nullptr));
    if (!file.IsValid()) return refuse("the archive cannot be read");
    // The directory is read in order, the local headers mostly too: one
    // buffer each.
    std::unique_ptr<CBufferedReader> directory(new (std::nothrow) CBufferedReader(file));
    std::unique_ptr<CBufferedReader> headers(new (std::nothrow) CBufferedReader(file));
    if (!directory || !headers) return refuse("not enough memory to check the archive");

    struct Span {
        ULONGLONG start, end;
        std::string name;
    };
    unz64_file_pos current = {};
    bool haveCurrent = unzGetFilePos64(unzip, &current) == UNZ_OK;
    bool ok = true;
    try {
        std::vector<Span> spans;
        ULONGLONG directoryStart = 0;
        int rc = unzGoToFirstFile(unzip);
        for (; ok && rc == UNZ_OK; rc = unzGoToNextFile(unzip)) {
            unz_file_info64 info;
            unsigned char record[46], local[30];
            ULONGLONG at = unzGetOffset64(unzip), offset = 0;
            if (spans.empty()) directoryStart = at;
            std::string central, stored;
            if (unzGetCurrentFileInfo64(unzip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK ||
                !directory->ReadWhole(at, record, sizeof(record)) || Get32(record) != 0x02014b50u) {
                ok = refuse("the central directory cannot be read");
                break;
            }
            central.resize(Get16(record + 28) + Get16(record + 30));
            if (!directory->ReadWhole(at + sizeof(record), &central[0], static_cast<DWORD>(central.size())) ||
                !LocalHeaderOffset(record, central, offset)) {
                ok = refuse("the central directory cannot be read");
                break;
            }
            central.resize(Get16(record + 28));
            if (!headers->ReadWhole(offset, local, sizeof(local)) || Get32(local) != 0x04034b50u) {
                ok = refuse("the local header of %s cannot be read", central);
                break;
            }
            stored.resize(Get16(local + 26));
            if (!headers->ReadWhole(offset + sizeof(local), &stored[0], static_cast<DWORD>(stored.size()))) {
                ok = refuse("the local header of %s cannot be read", central);
                break;
            }
            if (!SameStoredName(central, stored)) {
                ok = refuse("the entry %s is named %s in its local header", central, stored);
                break;
            }
            ULONGLONG end = offset + sizeof(local) + stored.size() + Get16(local + 28) + info.compressed_size;
            if (end < offset || end > directoryStart) {
                ok = refuse("the data of %s runs into the central directory", central);
                break;
            }
            spans.push_back({offset, end, central});
        }
        if (ok && rc != UNZ_END_OF_LIST_OF_FILE) ok = refuse("the central directory cannot be read");
        std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.start < b.start; });
        for (size_t i = 1; ok && i < spans.size(); ++i)
            if (spans[i].start < spans[i - 1].end) ok = refuse("the entries %s and %s share data", spans[i - 1].name, spans[i].name);
    } catch (const std::bad_alloc&) {
        ok = refuse("not enough memory to check the archive");
    }
    if (haveCurrent) unzGoToFilePos64(unzip, &current);
    return ok;
}

bool CUnzipper::IsSafeEntryName(const char* name) {
    if (!name || !*name || strnlen(name, MAX_PATH) >= MAX_PATH) return false;
    if (name[0] == '\\' || name[0] == '/') return false;
    // Judged as Windows will read the name: converted from the ANSI code page,
    // so a double-byte character is one character, whatever its trail byte.
    wchar_t wide[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, name, -1, wide, MAX_PATH) <= 0) return false;
    for (const wchar_t* part = wide;;) {
        size_t length = wcscspn(part, L"\\/");
        if (!part[length]) return length == 0 || IsSafeComponent(part, length);   // "Outlook\" ends empty
        if (!IsSafeComponent(part, length)) return false;
        part += length + 1;
    }
}

bool CUnzipper::UnzipFile(const char* targetFolder, bool ignorePath) {
    if (!m_unzip) return false;
    const char* target = targetFolder ? targetFolder : m_outputFolder;
    ZipEntryInfo info;
    if (!GetEntryInfo(info)) return false;
    if (!IsSafeEntryName(info.name)) {
        LogUnsafe(info.name);
        return false;
    }
    if (!CreateFolderPath(target)) return false;

    const char* name = info.isFolder || !ignorePath ? info.name : BaseName(info.name);
    char destination[MAX_PATH];
    if (!*name || !JoinPath(destination, target, name) || !IsInsideFolder(target, destination)) return false;
    if (info.isFolder) return CreateFolderPath(destination);
    Failure failure;
    if (ExtractTo(info, destination, failure)) return true;
    LogFailure(info.name, destination, failure);
    return false;
}

bool CUnzipper::UnzipFileTo(const char* destinationPath) {
    if (!m_unzip || !destinationPath) return false;
    ZipEntryInfo info;
    Failure failure;
    if (!GetEntryInfo(info)) return false;
    if (ExtractCurrentTo(destinationPath, failure)) return true;
    LogFailure(info.name, destinationPath, failure);
    return false;
}

bool CUnzipper::CheckEntryData() {
    ZipEntryInfo info;
    if (!GetEntryInfo(info) || !HasPlainData(info)) return false;
    CUnzEntry entry(static_cast<unzFile>(m_unzip));
    Output nowhere(nullptr, *m_work);
    return entry.OpenRaw() && CopyEntryData(info, nowhere) && entry.Close();
}

bool CUnzipper::ExtractCurrentTo(const char* destination, Failure& failure) {
    ZipEntryInfo info;
    if (!GetEntryInfo(info)) return failure.Fail(Failure::Other);
    if (!IsSafeEntryName(info.name)) return failure.Fail(Failure::Unsafe);
    if (info.isFolder) return failure.Fail(Failure::Other);
    return ExtractTo(info, destination, failure);
}

// An entry that declares more than the drive has free is not started: it
// could only fail part-way, after filling the disk the mail client needs.
// When the free space cannot be read, the extraction is tried.
bool CUnzipper::ExtractTo(const ZipEntryInfo& info, const char* destination, Failure& failure) {
    char folder[MAX_PATH];
    if (!HasPlainData(info) || !FolderOf(destination, folder)) return failure.Fail(Failure::Other);
    // A restore that was killed left its partial file here; it goes before
    // the free space is judged. The folder is made or checked once for the
    // entries that follow each other into it.
    if (_stricmp(m_work->preparedFolder, folder)) {
        if (!CreateFolderPath(folder)) return failure.Fail(Failure::Other);
        RemoveEndedProcessTempFiles(folder, CTempFile::kPrefix, nullptr);
        strcpy(m_work->preparedFolder, folder);
        m_work->freeSpace.Forget();
    }
    ULONGLONG free = 0;
    if (!m_work->freeSpace.Admits(folder, info.uncompressedSize, free)) return failure.NoRoomFor(info.uncompressedSize, free);
    CTempFile temp;
    if (!temp.Create(folder)) {
        // The folder went after an earlier entry was put in it: it is made again.
        if (GetLastError() != ERROR_PATH_NOT_FOUND || !CreateFolderPath(folder) || !temp.Create(folder))
            return failure.Fail(Failure::NoTemporary, GetLastError());
    }
    CUnzEntry entry(static_cast<unzFile>(m_unzip));
    Output output(temp.Handle(), *m_work);
    const bool copied = entry.OpenRaw() && CopyEntryData(info, output) && entry.Close();
    output.Stop();
    const DWORD writeError = output.WriteError();
    if (!copied) {
        m_work->freeSpace.Forget();
        if (Stopped()) return failure.Fail(Failure::Stopped);
        if (!writeError) return failure.Fail(Failure::Damaged);
        // A full drive is named with the room left on it, measured while the
        // partial file still holds its share.
        ULARGE_INTEGER available;
        if (IsDiskFull(writeError) && GetDiskFreeSpaceExA(folder, &available, nullptr, nullptr))
            return failure.NoRoomFor(info.uncompressedSize, available.QuadPart);
        return failure.Fail(Failure::WriteFailed, writeError);
    }
    SetTimesFromDos(temp.Handle(), info.dosDate);
    // Mostly a destination the mail client holds open.
    if (!temp.CommitTo(destination)) return failure.Fail(Failure::NotReplaced, GetLastError());
    return true;
}

void CUnzipper::LogFailure(const char* name, const char* destination, const Failure& failure) {
    char folder[MAX_PATH];
    switch (failure.kind) {
    case Failure::Unsafe:
        LogUnsafe(name);
        break;
    case Failure::NoRoom:
        if (!FolderOf(destination, folder)) JoinText(folder, destination);
        LogNoRoomFor(name, folder, failure.needed, failure.available);
        break;
    case Failure::Damaged:
        LOG_ERROR("The entry %s is damaged in the backup file: its data cannot be read back whole.", name);
        break;
    case Failure::WriteFailed:
        LOG_ERROR("Failed to write %s with error = %d.", name, static_cast<int>(failure.error));
        break;
    case Failure::NoTemporary:
        LOG_ERROR("Failed to create a temporary file beside %s with error = %d.", destination,
                  static_cast<int>(failure.error));
        break;
    case Failure::NotReplaced:
        LOG_ERROR("Failed to replace %s with error = %d.", destination, static_cast<int>(failure.error));
        break;
    default:   // stopped, or a step the caller reports in its own words
        break;
    }
}

bool CUnzipper::TakeJob(Batch& batch) {
    size_t index;
    {
        std::lock_guard<std::mutex> guard(batch.lock);
        auto& jobs = batch.jobs;
        while (batch.next < jobs.size() && (jobs[batch.next].done || jobs[batch.next].taken)) ++batch.next;
        if (batch.ended || Stopped() || batch.next == jobs.size()) return false;
        index = batch.largest < jobs.size() && !jobs[batch.largest].done && !jobs[batch.largest].taken ? batch.largest
                                                                                                   : batch.next;
        jobs[index].taken = true;
    }
    // Until it is marked done, the job is this lane's alone.
    Batch::Job& job = batch.jobs[index];
    bool ok = unzGoToFilePos64(static_cast<unzFile>(m_unzip), &job.position) == UNZ_OK
                  ? ExtractCurrentTo(batch.targets[index].destination.c_str(), job.failure)
                  : job.failure.Fail(Failure::Damaged);
    {
        std::lock_guard<std::mutex> guard(batch.lock);
        job.ok = ok;
        job.done = true;
    }
    batch.changed.notify_all();
    return true;
}

bool CUnzipper::UnzipFilesTo(const std::vector<UnzipTarget>& targets, const UnzipReport& report) {
    if (!m_unzip) return false;
    std::unique_ptr<Batch> batch;
    size_t found = 0;
    try {
        batch.reset(new Batch(targets));
        for (size_t i = 0; i < targets.size(); ++i) {
            Batch::Job& job = batch->jobs[i];
            ZipEntryInfo info;
            job.found = GotoFile(targets[i].entry.c_str(), false) &&
                        unzGetFilePos64(static_cast<unzFile>(m_unzip), &job.position) == UNZ_OK;
            job.size = job.found && GetEntryInfo(info) ? info.uncompressedSize : 0;
            job.done = !job.found;
            found += job.found;
            if (job.size > batch->jobs[batch->largest].size) batch->largest = i;
        }
    } catch (const std::bad_alloc&) {
        LOG_ERROR("Not enough memory to restore from the archive %s.", m_archivePath);
        return false;
    }

    // The other lanes read through handles of their own; without them (or
    // without threads) the entries are extracted one after another.
    std::vector<std::unique_ptr<CUnzipper>> others;
    const size_t extra = found > 1 ? std::min<size_t>(found, LaneCount()) - 1 : 0;
    for (size_t lane = 0; lane < extra; ++lane) {
        std::unique_ptr<CUnzipper> other(new (std::nothrow) CUnzipper);
        if (!other || !other->OpenArchive(m_archivePath)) break;
        other->SetStopFlag(m_stop);
        others.push_back(std::move(other));
    }
    struct Lanes {
        Batch& batch;
        std::vector<std::thread> threads;
        ~Lanes() {
            {
                std::lock_guard<std::mutex> guard(batch.lock);
                batch.ended = true;
            }
            for (std::thread& thread : threads) thread.join();
        }
        void Start(CUnzipper* lane) {
            {
                std::lock_guard<std::mutex> guard(batch.lock);
                ++batch.runningLanes;
            }
            try {
                threads.emplace_back([this, lane] {
                    while (lane->TakeJob(batch)) {
                    }
                    {
                        std::lock_guard<std::mutex> guard(batch.lock);
                        --batch.runningLanes;
                    }
                    batch.changed.notify_all();
                });
            } catch (...) {
                std::lock_guard<std::mutex> guard(batch.lock);
                --batch.runningLanes;
            }
        }
    } lanes{*batch, {}};
    if (found > 0) lanes.Start(this);
    for (auto& other : others) lanes.Start(other.get());

    for (size_t i = 0; i < targets.size(); ++i) {
        Batch::Job& job = batch->jobs[i];
        {
            std::unique_lock<std::mutex> guard(batch->lock);
            while (!job.done) {
                if (batch->runningLanes > 0) {
                    batch->changed.wait(guard);
                    continue;
                }
                // No lane runs (none could start, or the batch stops): the
                // caller's thread takes the entry itself.
                guard.unlock();
                bool took = TakeJob(*batch);
                guard.lock();
                if (!took) break;
            }
        }
        if (!job.done || Stopped()) return false;
        if (job.found && !job.ok) LogFailure(targets[i].entry.c_str(), targets[i].destination.c_str(), job.failure);
        UnzipOutcome outcome = !job.found ? UnzipOutcome::NotFound : job.ok ? UnzipOutcome::Extracted
                                                                            : UnzipOutcome::Failed;
        if (!report(i, outcome)) return false;
    }
    return true;
}

// Inflates (or copies) the open entry into the output. Succeeds only when
// the data ends exactly at the declared size with the declared CRC-32; never
// puts out more than the declared size.
bool CUnzipper::CopyEntryData(const ZipEntryInfo& info, Output& output) {
    unzFile unzip = static_cast<unzFile>(m_unzip);
    z_stream& stream = m_work->stream;
    const bool deflated = info.compressionMethod == Z_DEFLATED;
    if (deflated && inflateReset(&stream) != Z_OK) return false;
    output.Prepare(info.uncompressedSize);

    // minizip has checked the local header; the data follows it.
    ULONGLONG at = unzGetCurrentFileZStreamPos64(unzip), left = info.compressedSize;
    if (at == 0) return false;
    ULONGLONG total = 0;
    auto put = [&](DWORD size) {
        total += size;
        return total <= info.uncompressedSize && output.Put(size);
    };
    bool ended = !deflated;
    while (left > 0) {
        if (Stopped()) return false;
        DWORD room = 0;
        // Stored data is read straight into the output.
        unsigned char* into = deflated ? m_work->in : output.Room(room);
        const DWORD got = static_cast<DWORD>(std::min<ULONGLONG>(left, deflated ? kReadSize : room));
        if (!ReadAt(m_work->archive, at, into, got)) return false;
        at += got;
        left -= got;
        if (!deflated) {
            if (!put(got)) return false;
            continue;
        }
        stream.next_in = m_work->in;
        stream.avail_in = got;
        do {
            stream.next_out = output.Room(room);
            stream.avail_out = room;
            int rc = inflate(&stream, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) return false;
            if (!put(room - stream.avail_out)) return false;
            ended = rc == Z_STREAM_END;
        } while (!ended && stream.avail_out == 0);
        if (ended) break;
    }
    if (!ended || total != info.uncompressedSize || !output.Finish()) return false;
    output.Stop();
    return output.Crc() == info.crc;
}

bool CreateFolderPath(const char* path) {
    if (!path || !*path) return false;
    char folder[MAX_PATH];
    if (!JoinText(folder, path)) return false;
    size_t length = strlen(folder);
    while (length > 1 && folder[length - 1] == '\\' && folder[length - 2] != ':') folder[--length] = '\0';

    DWORD attributes = GetFileAttributesA(folder);
    if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    char* slash = strrchr(folder, '\\');
    if (!slash) return true;
    *slash = '\0';
    bool parentReady = CreateFolderPath(folder);
    *slash = '\\';
    if (!parentReady) return false;
    if (CreateDirectoryA(folder, nullptr)) return true;
    // Someone else may have made it meanwhile.
    attributes = GetFileAttributesA(folder);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool SetFileTimeFromDos(const char* path, DWORD dosDateTime) {
    if (!path || !*path) return false;
    CHandle file(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.IsValid() && SetTimesFromDos(file, dosDateTime);
}

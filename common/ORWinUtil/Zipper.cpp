#include "Zipper.h"

#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "FileUtil.h"
#include "Handles.h"
#include "Unzipper.h"
#include "ZipperCommon.h"
#include "zip.h"

using namespace zipper;

// How an archive is written.
//
// Files of more than one chunk are deflated in chunks on worker threads,
// pigz style: each chunk is primed with the previous chunk's last 32 KiB as
// dictionary and ends on a byte boundary (Z_SYNC_FLUSH; the last one
// Z_FINISH), so their concatenation is one ordinary deflate stream at the
// default level.
//
// Smaller files go to the same workers whole, several at once. The calling
// thread opens such a file and reads it into a free slot, so a file that
// cannot be opened or read fails its own AddFile at once; a worker deflates
// it; the calling thread writes its entry (local header and data) once its
// slot is done, strictly in the order the files were added. Pending entries
// are written before a larger file, a folder entry, GetWrittenEntries and
// CloseArchive, so the archive holds its entries in the order of the calls,
// byte for byte as if each file had been deflated alone. A write to the
// archive that fails after its AddFile returned can no longer fail that call:
// minizip's offsets then no longer match the file, so the archive is broken
// for good and every later call fails with that write's error.
//
// Memory is fixed per object: a few slots and one deflate state per worker,
// whatever the file sizes and counts.
namespace {
constexpr unsigned kChunkSize = 256 * 1024;
constexpr unsigned kDictionarySize = 32 * 1024;   // the deflate window
// zlib's deflateBound for a chunk, plus the sync-flush marker and slack.
constexpr unsigned kChunkOutSize =
    kChunkSize + (kChunkSize >> 12) + (kChunkSize >> 14) + (kChunkSize >> 25) + 13 + 64;
constexpr unsigned kMaxWorkers = 4;
constexpr unsigned kMaxSlots = kMaxWorkers + 2;   // one being read, one being written

struct Chunk {
    enum State { Free, Queued, Done };
    unsigned char in[kChunkSize];
    unsigned char dictionary[kDictionarySize];
    unsigned char out[kChunkOutSize];
    unsigned length = 0;
    unsigned dictionaryLength = 0;
    unsigned outLength = 0;
    bool final = false;
    bool ok = false;
    uLong crc = 0;
    State state = Free;
};

bool InitDeflate(z_stream& stream) {
    stream = z_stream();
    return deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
}

void DeflateChunk(z_stream& stream, Chunk& chunk) {
    chunk.crc = crc32(crc32(0, nullptr, 0), chunk.in, chunk.length);
    chunk.ok = false;
    chunk.outLength = 0;
    if (deflateReset(&stream) != Z_OK) return;
    if (chunk.dictionaryLength &&
        deflateSetDictionary(&stream, chunk.dictionary, chunk.dictionaryLength) != Z_OK)
        return;
    stream.next_in = chunk.in;
    stream.avail_in = chunk.length;
    stream.next_out = chunk.out;
    stream.avail_out = kChunkOutSize;
    int rc = deflate(&stream, chunk.final ? Z_FINISH : Z_SYNC_FLUSH);
    chunk.outLength = kChunkOutSize - stream.avail_out;
    // The output room exceeds deflate's bound, so one call finishes the chunk.
    chunk.ok = chunk.final ? rc == Z_STREAM_END : rc == Z_OK && stream.avail_in == 0 && stream.avail_out > 0;
}

// One worker per processor, at most kMaxWorkers and limit.
unsigned WorkerCount(unsigned limit) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    unsigned count = info.dwNumberOfProcessors < 1 ? 1 : info.dwNumberOfProcessors;
    if (count > kMaxWorkers) count = kMaxWorkers;
    return count < limit ? count : limit;
}

// Every write to the archive goes through here. The first failing write's
// error is kept: minizip's seeks after it (SetFilePointer) clear the last
// error before a caller could read it. A test may set a limit on the bytes.
struct ArchiveWrites {
    write_file_func write = nullptr;
    ULONGLONG limit = 0, written = 0;
    DWORD error = 0;
};

// One write of the Win32 file functions; at the test's limit it is cut short
// and the next one fails, as a drive that fills up behaves under Wine.
uLong WriteSome(ArchiveWrites& writes, voidpf stream, const void* buffer, uLong size) {
    if (writes.limit) {
        if (writes.written >= writes.limit) {
            SetLastError(ERROR_DISK_FULL);
            return 0;
        }
        if (size > writes.limit - writes.written) size = static_cast<uLong>(writes.limit - writes.written);
    }
    uLong written = writes.write(nullptr, stream, buffer, size);
    writes.written += written;
    return written;
}

// A full drive fails WriteFile with ERROR_DISK_FULL on Windows, but under Wine
// the write first succeeds short, with no error: the rest is written again,
// which then fails with the drive's own error (or goes through).
uLong ZCALLBACK TrackedWrite(voidpf opaque, voidpf stream, const void* buffer, uLong size) {
    ArchiveWrites& writes = *static_cast<ArchiveWrites*>(opaque);
    uLong written = 0;
    while (written < size) {
        uLong more = WriteSome(writes, stream, static_cast<const char*>(buffer) + written, size - written);
        if (more == 0) break;
        written += more;
    }
    if (written != size && !writes.error) writes.error = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
    return written;
}

// A small file waiting in its slot for its entry to be written.
struct PendingEntry {
    char name[MAX_PATH];
    DWORD dosDateTime;
    DWORD attributes;
    ULONGLONG size;   // as the file was opened
    bool read;        // every read succeeded
};
}  // namespace

struct CZipper::Work {
    z_stream stream = {};   // the calling thread's, for files of one chunk
    bool streamReady = false;
    Chunk slots[kMaxSlots];
    unsigned slotCount = 2;   // of a file in chunks
    // Small files not yet written, oldest first, in a ring over all slots
    // (never at the same time as a file in chunks).
    PendingEntry pending[kMaxSlots];
    unsigned pendingHead = 0, pendingCount = 0;

    ArchiveWrites archiveWrites;

    // Worker threads, started by the first file of an archive that uses them.
    std::mutex lock;
    std::condition_variable queued;
    std::condition_variable done;
    unsigned queue[kMaxSlots] = {};   // slot indexes in submission order
    unsigned queueHead = 0, queueLength = 0;
    bool stopping = false;
    std::vector<std::thread> workers;
    z_stream workerStreams[kMaxWorkers] = {};
    unsigned workerStreamsReady = 0;
    bool workersTried = false;

    ~Work() {
        StopWorkers();
        for (unsigned i = 0; i < workerStreamsReady; ++i) deflateEnd(&workerStreams[i]);
        if (streamReady) deflateEnd(&stream);
    }

    // Workers live only while an archive is open, so that no thread is left
    // to join when a closed writer is destroyed late (at library unload).
    void StopWorkers() {
        {
            std::lock_guard<std::mutex> guard(lock);
            stopping = true;
        }
        queued.notify_all();
        for (std::thread& worker : workers) worker.join();
        workers.clear();
        stopping = false;
        workersTried = false;
        slotCount = 2;
    }

    // Without any worker (none allowed, or no thread could be started)
    // chunks are deflated on the calling thread as they are submitted.
    void StartWorkers(unsigned limit) {
        if (!workers.empty() || workersTried) return;
        workersTried = true;
        unsigned count = WorkerCount(limit);
        while (workerStreamsReady < count && InitDeflate(workerStreams[workerStreamsReady])) ++workerStreamsReady;
        try {
            for (unsigned i = 0; i < workerStreamsReady; ++i) workers.emplace_back(&Work::Run, this, i);
        } catch (...) {
        }
        slotCount = static_cast<unsigned>(workers.size()) + 2;
    }

    void Run(unsigned index) {
        for (;;) {
            unsigned slot;
            {
                std::unique_lock<std::mutex> guard(lock);
                queued.wait(guard, [this] { return stopping || queueLength > 0; });
                if (queueLength == 0) return;
                slot = queue[queueHead];
                queueHead = (queueHead + 1) % kMaxSlots;
                --queueLength;
            }
            DeflateChunk(workerStreams[index], slots[slot]);
            {
                std::lock_guard<std::mutex> guard(lock);
                slots[slot].state = Chunk::Done;
            }
            done.notify_all();
        }
    }

    void Submit(unsigned slot) {
        if (workers.empty()) {
            DeflateChunk(stream, slots[slot]);
            slots[slot].state = Chunk::Done;
            return;
        }
        {
            std::lock_guard<std::mutex> guard(lock);
            slots[slot].state = Chunk::Queued;
            queue[(queueHead + queueLength) % kMaxSlots] = slot;
            ++queueLength;
        }
        queued.notify_one();
    }

    void WaitDone(unsigned slot) {
        std::unique_lock<std::mutex> guard(lock);
        done.wait(guard, [this, slot] { return slots[slot].state == Chunk::Done; });
    }

    bool IsDone(unsigned slot) {
        std::lock_guard<std::mutex> guard(lock);
        return slots[slot].state == Chunk::Done;
    }
};

namespace {

// The worst case for incompressible data, with room to spare: zlib's stored
// blocks (5 bytes per 16 K) plus each chunk's flush marker. An entry whose
// deflated data could reach 4 GiB needs 64-bit sizes from the start, since the
// local header cannot grow once the data follows it.
bool NeedsZip64(ULONGLONG size) {
    ULONGLONG bound = size + (size >> 11) + 64;
    return bound >= 0xFFFFFFFFull;
}

// Shared with readers only: a scanner or indexer reading the file does not
// keep it out, but a file another program holds open for writing (the mail
// client) cannot be opened, so it is never added half-written. A scanner
// that opened it without sharing usually lets go within moments.
HANDLE OpenSource(const char* path) {
    HANDLE file = INVALID_HANDLE_VALUE;
    RetryWhileShared([&] {
        file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                           nullptr);
        return file != INVALID_HANDLE_VALUE;
    });
    return file;
}

DWORD ToDosDateTime(const FILETIME& utc) {
    FILETIME local;
    WORD date = 0, time = 0;
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToDosDateTime(&local, &date, &time))
        return (1u << 21) | (1u << 16);   // 1980-01-01 00:00, the earliest DOS time
    return (static_cast<DWORD>(date) << 16) | time;
}

// An entry being written. Close hands minizip the sizes and CRC of the raw
// deflate stream we produced; the destructor closes an entry left open.
// minizip cannot take an entry back once its data is written, so an entry
// that lacks data of its file (a read or a write failed, or a stop) is closed
// with the complement of its CRC: every reader then rejects it, and a restore
// never puts back a shortened file as if it were whole.
class CZipEntry {
public:
    explicit CZipEntry(zipFile zip) : m_zip(zip) {}
    ~CZipEntry() { Close(0, 0); }
    CZipEntry(const CZipEntry&) = delete;
    CZipEntry& operator=(const CZipEntry&) = delete;

    // Both clear the last error first: after a failure it is that of the
    // write that failed, if any.
    bool Open(const char* name, DWORD dosDateTime, DWORD attributes, bool zip64) {
        SetLastError(ERROR_SUCCESS);
        zip_fileinfo info = {};
        info.dosDate = dosDateTime;
        info.internal_fa = 0;
        info.external_fa = attributes;
        m_open = zipOpenNewFileInZip3_64(m_zip, name, &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                         Z_DEFAULT_COMPRESSION, 1, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY,
                                         nullptr, 0, zip64 ? 1 : 0) == ZIP_OK;
        return m_open;
    }
    bool Close(ULONGLONG uncompressedSize, uLong crc) {
        if (!m_open) return false;
        m_open = false;
        SetLastError(ERROR_SUCCESS);
        return zipCloseFileInZipRaw64(m_zip, uncompressedSize, crc) == ZIP_OK;
    }

private:
    zipFile m_zip;
    bool m_open = false;
};

}  // namespace

CZipper::CZipper(const char* archivePath, const char* rootFolder, bool append) {
    if (archivePath) OpenArchive(archivePath, rootFolder, append);
}

CZipper::~CZipper() {
    CloseArchive();
}

bool CZipper::OpenArchive(const char* archivePath, const char* rootFolder, bool append) {
    CloseArchive();
    m_written.clear();
    m_broken = false;
    m_brokenError = 0;
    char full[MAX_PATH];
    if (!FullPath(archivePath, full)) return false;

    char root[MAX_PATH] = "";
    if (!rootFolder) {
        JoinText(root, full);
        *const_cast<char*>(BaseName(root)) = '\0';   // keeps drive and directory
    } else if (*rootFolder) {
        size_t n = strlen(rootFolder);
        if (!JoinText(root, rootFolder, rootFolder[n - 1] == '\\' ? "" : "\\")) return false;
    }

    if (!m_work) {
        m_work.reset(new (std::nothrow) Work);
        if (!m_work) return false;
    }
    if (!m_work->streamReady) {
        if (!InitDeflate(m_work->stream)) return false;
        m_work->streamReady = true;
    }

    int mode = append && GetFileAttributesA(full) != INVALID_FILE_ATTRIBUTES ? APPEND_STATUS_ADDINZIP
                                                                             : APPEND_STATUS_CREATE;
    zlib_filefunc64_def funcs = Win32FileFuncs();
    m_work->archiveWrites = ArchiveWrites();
    m_work->archiveWrites.write = funcs.zwrite_file;
    funcs.zwrite_file = TrackedWrite;
    funcs.opaque = &m_work->archiveWrites;   // the Win32 functions use none
    m_zip = zipOpen2_64(full, mode, nullptr, &funcs);
    if (!m_zip) return false;
    memcpy(m_rootFolder, root, sizeof(m_rootFolder));
    return true;
}

bool CZipper::CloseArchive() {
    bool ok = true;
    if (m_zip) {
        FlushPending();
        SetLastError(ERROR_SUCCESS);
        if (zipClose(static_cast<zipFile>(m_zip), nullptr) != ZIP_OK) Break();
        m_zip = nullptr;
        ok = !m_broken;
    }
    if (m_work) m_work->StopWorkers();
    m_rootFolder[0] = '\0';
    if (!ok) SetLastError(m_brokenError);
    return ok;
}

void CZipper::SetArchiveWriteLimit(ULONGLONG bytes) {
    if (m_work) m_work->archiveWrites.limit = bytes;
}

const std::vector<ZipWrittenEntry>& CZipper::GetWrittenEntries() {
    if (m_zip) FlushPending();
    return m_written;
}

// A path with a drive is taken as it is; anything else is below the root.
bool CZipper::SourcePath(const char* path, char (&out)[MAX_PATH]) const {
    return strchr(path, ':') ? JoinText(out, path) : JoinText(out, m_rootFolder, path);
}

bool CZipper::EntryName(const char* path, bool ignorePath, char (&name)[MAX_PATH]) const {
    if (!ignorePath && strncmp(path, "..\\", 3) == 0) return false;
    const char* rest = path;
    if (ignorePath) {
        rest = BaseName(path);
    } else if (strchr(path, ':')) {
        if (!StartsWithNoCase(path, m_rootFolder)) return false;
        rest = path + strlen(m_rootFolder);
    } else if (strncmp(path, ".\\", 2) == 0) {
        rest = path + 2;
    }
    return JoinText(name, rest) && CUnzipper::IsSafeEntryName(name);
}

bool CZipper::AddFile(const char* path, bool ignorePath) {
    if (!m_zip || !path || !*path) return false;
    char name[MAX_PATH], source[MAX_PATH];
    return EntryName(path, ignorePath, name) && SourcePath(path, source) && AddFileNamed(source, name);
}

bool CZipper::AddFileAs(const char* sourcePath, const char* path) {
    if (!m_zip || !sourcePath || !*sourcePath || !path || !*path) return false;
    char name[MAX_PATH], source[MAX_PATH];
    return EntryName(path, false, name) && JoinText(source, sourcePath) && AddFileNamed(source, name);
}

bool CZipper::AddFileNamed(const char* source, const char* name) {
    if (m_broken) return FailBroken();
    m_failure = ERROR_SUCCESS;
    bool added = false;
    {
        CHandle file(OpenSource(source));
        if (!file.IsValid()) return false;
        // Time and attributes of the very file being read.
        BY_HANDLE_FILE_INFORMATION fileInfo;
        if (!GetFileInformationByHandle(file, &fileInfo)) return false;
        if (fileInfo.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
        ULONGLONG size = (static_cast<ULONGLONG>(fileInfo.nFileSizeHigh) << 32) | fileInfo.nFileSizeLow;
        DWORD dosDateTime = ToDosDateTime(fileInfo.ftLastWriteTime);
        if (size < kChunkSize && UsePool())
            added = QueueFile(name, dosDateTime, fileInfo.dwFileAttributes, file, size);
        else
            added = FlushPending() && WriteEntry(name, dosDateTime, fileInfo.dwFileAttributes, size, file, -1);
    }
    // The failure's own error, past the calls that closed the entry and the file.
    if (!added) SetLastError(m_failure ? m_failure : ERROR_READ_FAULT);
    return added;
}

bool CZipper::AddFolder(const char* path, bool ignorePath) {
    if (!m_zip || !path || !*path) return false;
    if (m_broken) return FailBroken();
    char folder[MAX_PATH];
    if (!SourcePath(path, folder)) return false;
    size_t length = strlen(folder);
    while (length > 3 && folder[length - 1] == '\\') folder[--length] = '\0';

    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(folder, GetFileExInfoStandard, &data) ||
        !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;

    char name[MAX_PATH];
    if (ignorePath) {
        char base[MAX_PATH];
        JoinText(base, BaseName(folder));
        if (char* dot = strrchr(base, '.')) *dot = '\0';
        if (!JoinText(name, base, "\\")) return false;
    } else {
        if (!StartsWithNoCase(folder, m_rootFolder)) return false;
        if (!JoinText(name, folder + strlen(m_rootFolder), "\\")) return false;
    }
    if (name[0] == '\\' || !CUnzipper::IsSafeEntryName(name)) return false;
    if (!FlushPending() || !WriteEntry(name, ToDosDateTime(data.ftLastWriteTime), data.dwFileAttributes, 0, nullptr, -1))
        return false;

    char pattern[MAX_PATH];
    WIN32_FIND_DATAA found;
    CFindHandle find;
    if (!JoinPath(pattern, folder, "*.*") || !find.First(pattern, found)) return true;
    do {
        if (found.cFileName[0] == '.') continue;
        char child[MAX_PATH];
        if (!JoinPath(child, folder, found.cFileName)) continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            AddFolder(child, ignorePath);
        else
            AddFile(child, ignorePath);
    } while (find.Next(found));
    return true;
}

// Small files go to the workers only when there are any: otherwise (none
// allowed, none could be started) each is written at once.
bool CZipper::UsePool() {
    m_work->StartWorkers(m_maxThreads);
    return !m_work->workers.empty();
}

// Reads the whole file into the next slot of the ring and hands it to the
// workers; its entry is written later, in turn. A file that could not be read
// whole still gets its entry, one no reader accepts, as a file in chunks does.
bool CZipper::QueueFile(const char* name, DWORD dosDateTime, DWORD attributes, HANDLE file, ULONGLONG size) {
    Work& work = *m_work;
    if (work.pendingCount == kMaxSlots && !WritePending()) return false;
    const unsigned slot = (work.pendingHead + work.pendingCount) % kMaxSlots;
    Chunk& chunk = work.slots[slot];
    PendingEntry& entry = work.pending[slot];
    bool ended = false;
    entry.read = ReadChunk(file, slot, ended);
    // A file that grew since it was opened fills the slot: not whole either.
    const bool whole = entry.read && chunk.length == size;
    JoinText(entry.name, name);   // name fits: it came from a MAX_PATH buffer
    entry.dosDateTime = dosDateTime;
    entry.attributes = attributes;
    entry.size = size;
    chunk.dictionaryLength = 0;
    chunk.final = true;
    work.Submit(slot);
    ++work.pendingCount;
    // What the workers have finished goes out now, so the archive grows as
    // the files come and the ring rarely fills.
    while (work.pendingCount > 0 && work.IsDone(work.pendingHead))
        if (!WritePending()) return false;
    return whole;
}

// The oldest pending entry, once deflated. False only when the archive is
// (or now becomes) broken; a file that could not be read was reported by its
// own AddFile.
bool CZipper::WritePending() {
    Work& work = *m_work;
    const unsigned slot = work.pendingHead;
    work.WaitDone(slot);
    work.pendingHead = (slot + 1) % kMaxSlots;
    --work.pendingCount;
    const PendingEntry& entry = work.pending[slot];
    if (!m_broken) WriteEntry(entry.name, entry.dosDateTime, entry.attributes, entry.size, nullptr, static_cast<int>(slot));
    work.slots[slot].state = Chunk::Free;
    return !m_broken;
}

bool CZipper::FlushPending() {
    while (m_work->pendingCount > 0) WritePending();
    return !m_broken;
}

// One entry: a folder (no file, no slot) gets an empty deflate stream, as zlib
// makes it.
bool CZipper::WriteEntry(const char* name, DWORD dosDateTime, DWORD attributes, ULONGLONG size, HANDLE file,
                         int slot) {
    CZipEntry entry(static_cast<zipFile>(m_zip));
    if (!entry.Open(name, dosDateTime, attributes, NeedsZip64(size))) return Break();
    ULONGLONG total = 0;
    uLong crc = crc32(0, nullptr, 0);
    bool complete;
    if (slot < 0) {
        complete = DeflateInto(file, total, crc);
    } else {
        bool writeOk = true;
        WriteChunk(static_cast<unsigned>(slot), writeOk, total, crc);
        complete = writeOk && m_work->pending[slot].read;
    }
    complete = complete && total == size;
    bool closed = entry.Close(total, complete ? crc : crc ^ 0xFFFFFFFFul);
    if (!closed) Break();
    m_written.push_back({name, crc, total, complete && closed});
    return complete && closed;
}

// Fills the slot's chunk to its size; shorter only at the end of the file.
// False when a read failed (its error kept for the caller).
bool CZipper::ReadChunk(HANDLE file, unsigned slot, bool& ended) {
    Chunk& chunk = m_work->slots[slot];
    bool ok = true;
    chunk.length = 0;
    while (!ended && chunk.length < kChunkSize) {
        DWORD got = 0;
        if (!m_read(file, chunk.in + chunk.length, kChunkSize - chunk.length, &got, nullptr)) {
            m_failure = GetLastError() ? GetLastError() : ERROR_READ_FAULT;
            ok = false;
        }
        if (got == 0) ended = true;
        chunk.length += got;
    }
    return ok;
}

// Adds a deflated chunk to the open entry; once one failed, nothing more of
// the entry is written.
void CZipper::WriteChunk(unsigned slot, bool& writeOk, ULONGLONG& total, unsigned long& crc) {
    Chunk& chunk = m_work->slots[slot];
    if (!chunk.ok) writeOk = false;
    if (writeOk && chunk.outLength) {
        SetLastError(ERROR_SUCCESS);
        if (zipWriteInFileInZip(static_cast<zipFile>(m_zip), chunk.out, chunk.outLength) != ZIP_OK) {
            writeOk = false;
            Break();
        }
    }
    crc = crc32_combine(crc, chunk.crc, chunk.length);
    total += chunk.length;
    chunk.state = Chunk::Free;
}

// Deflates the whole file (or nothing) into the open entry. False when a read
// or a write failed or a stop came; the deflate stream is then ended where it
// stands.
bool CZipper::DeflateInto(HANDLE file, ULONGLONG& total, unsigned long& crc) {
    Work& work = *m_work;
    bool readOk = true, writeOk = true, ended = !file, stopped = false;

    readOk = ReadChunk(file, 0, ended);
    work.slots[0].dictionaryLength = 0;
    if (ended) {   // one chunk: no hand-over to the workers
        work.slots[0].final = true;
        DeflateChunk(work.stream, work.slots[0]);
        WriteChunk(0, writeOk, total, crc);
        return readOk && writeOk;
    }
    work.StartWorkers(m_maxThreads);

    // Chunk n lives in slot n % slotCount; chunks are written in order.
    unsigned submitted = 0, written = 0;
    auto writeOldest = [&] {
        unsigned slot = written++ % work.slotCount;
        work.WaitDone(slot);
        WriteChunk(slot, writeOk, total, crc);
    };
    for (;;) {
        Chunk& current = work.slots[submitted % work.slotCount];
        while (submitted + 1 - written >= work.slotCount) writeOldest();
        const unsigned nextSlot = (submitted + 1) % work.slotCount;
        Chunk& next = work.slots[nextSlot];
        if (!ReadChunk(file, nextSlot, ended)) readOk = false;
        if (m_stop && *m_stop) stopped = true;
        current.final = next.length == 0 || !writeOk || stopped;
        if (!current.final) {
            next.dictionaryLength = current.length < kDictionarySize ? current.length : kDictionarySize;
            memcpy(next.dictionary, current.in + current.length - next.dictionaryLength, next.dictionaryLength);
        }
        work.Submit(submitted++ % work.slotCount);
        if (current.final) break;
    }
    while (written < submitted) writeOldest();
    if (stopped) m_failure = ERROR_CANCELLED;
    return readOk && writeOk && !stopped;
}

// A write to the archive failed: minizip's offsets no longer match the file,
// so nothing more can go into it. Keeps the first failing write's error.
bool CZipper::Break() {
    if (!m_broken) {
        m_broken = true;
        const DWORD error = GetLastError();
        m_brokenError = m_work->archiveWrites.error ? m_work->archiveWrites.error : error ? error : ERROR_WRITE_FAULT;
    }
    m_failure = m_brokenError;
    return false;
}

bool CZipper::FailBroken() const {
    SetLastError(m_brokenError);
    return false;
}

#include "Zipper.h"

#include <new>

#include "Handles.h"
#include "Unzipper.h"
#include "ZipperCommon.h"
#include "zip.h"

using namespace zipper;

struct CZipper::Work {
    z_stream stream = {};
    bool streamReady = false;
    unsigned char in[kBlockSize];
    unsigned char out[kBlockSize];

    ~Work() {
        if (streamReady) deflateEnd(&stream);
    }
};

namespace {

// zlib's worst case for incompressible data (stored blocks) plus slack: an
// entry whose deflated data could reach 4 GiB needs 64-bit sizes from the
// start, since the local header cannot grow once the data follows it.
bool NeedsZip64(ULONGLONG size) {
    ULONGLONG bound = size + (size >> 12) + (size >> 14) + (size >> 25) + 64;
    return bound >= 0xFFFFFFFFull;
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
class CZipEntry {
public:
    explicit CZipEntry(zipFile zip) : m_zip(zip) {}
    ~CZipEntry() { Close(0, 0); }
    CZipEntry(const CZipEntry&) = delete;
    CZipEntry& operator=(const CZipEntry&) = delete;

    bool Open(const char* name, DWORD dosDateTime, DWORD attributes, bool zip64) {
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
        if (deflateInit2(&m_work->stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8,
                         Z_DEFAULT_STRATEGY) != Z_OK)
            return false;
        m_work->streamReady = true;
    }

    int mode = append && GetFileAttributesA(full) != INVALID_FILE_ATTRIBUTES ? APPEND_STATUS_ADDINZIP
                                                                             : APPEND_STATUS_CREATE;
    zlib_filefunc64_def funcs = Win32FileFuncs();
    m_zip = zipOpen2_64(full, mode, nullptr, &funcs);
    if (!m_zip) return false;
    memcpy(m_rootFolder, root, sizeof(m_rootFolder));
    return true;
}

bool CZipper::CloseArchive() {
    bool ok = true;
    if (m_zip) {
        ok = zipClose(static_cast<zipFile>(m_zip), nullptr) == ZIP_OK;
        m_zip = nullptr;
    }
    m_rootFolder[0] = '\0';
    return ok;
}

// A path with a drive is taken as it is; anything else is below the root.
bool CZipper::SourcePath(const char* path, char (&out)[MAX_PATH]) const {
    return strchr(path, ':') ? JoinText(out, path) : JoinText(out, m_rootFolder, path);
}

bool CZipper::AddFile(const char* path, bool ignorePath) {
    if (!m_zip || !path || !*path) return false;
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
    char name[MAX_PATH];
    if (!JoinText(name, rest) || !CUnzipper::IsSafeEntryName(name)) return false;

    char source[MAX_PATH];
    if (!SourcePath(path, source)) return false;
    // No sharing: a file another program holds open is not added, and no
    // entry is started for it.
    CHandle file(CreateFileA(source, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                             nullptr));
    if (!file.IsValid()) return false;
    // Time and attributes of the very file being read.
    BY_HANDLE_FILE_INFORMATION fileInfo;
    if (!GetFileInformationByHandle(file, &fileInfo)) return false;
    if (fileInfo.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
    ULONGLONG size = (static_cast<ULONGLONG>(fileInfo.nFileSizeHigh) << 32) | fileInfo.nFileSizeLow;
    return WriteEntry(name, fileInfo.ftLastWriteTime, fileInfo.dwFileAttributes, file, size);
}

bool CZipper::AddFolder(const char* path, bool ignorePath) {
    if (!m_zip || !path || !*path) return false;
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
    if (!WriteEntry(name, data.ftLastWriteTime, data.dwFileAttributes, nullptr, 0)) return false;

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

// One entry: a folder (no file) gets an empty deflate stream, as zlib makes it.
bool CZipper::WriteEntry(const char* name, const FILETIME& lastWrite, DWORD attributes, HANDLE file,
                         ULONGLONG size) {
    CZipEntry entry(static_cast<zipFile>(m_zip));
    if (!entry.Open(name, ToDosDateTime(lastWrite), attributes, NeedsZip64(size))) return false;
    ULONGLONG total = 0;
    uLong crc = crc32(0, nullptr, 0);
    bool copied = DeflateInto(file, total, crc);
    bool closed = entry.Close(total, crc);
    return copied && closed && total == size;
}

// Deflates the whole file (or nothing) into the open entry. False when a read
// or a write failed; the stream is still finished so the entry stays readable.
bool CZipper::DeflateInto(HANDLE file, ULONGLONG& total, unsigned long& crc) {
    z_stream& stream = m_work->stream;
    if (deflateReset(&stream) != Z_OK) return false;
    bool ok = true;
    for (;;) {
        DWORD got = 0;
        if (file && !ReadFile(file, m_work->in, kBlockSize, &got, nullptr)) {
            ok = false;
            got = 0;
        }
        int flush = got ? Z_NO_FLUSH : Z_FINISH;
        crc = crc32(crc, m_work->in, got);
        total += got;
        stream.next_in = m_work->in;
        stream.avail_in = got;
        do {
            stream.next_out = m_work->out;
            stream.avail_out = kBlockSize;
            int rc = deflate(&stream, flush);
            if (rc == Z_STREAM_ERROR) return false;
            unsigned produced = kBlockSize - stream.avail_out;
            if (produced && zipWriteInFileInZip(static_cast<zipFile>(m_zip), m_work->out, produced) != ZIP_OK)
                return false;
            if (rc == Z_STREAM_END) return ok;
        } while (stream.avail_out == 0 || stream.avail_in > 0);
    }
}

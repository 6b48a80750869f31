#include "Unzipper.h"

#include <new>

#include "Handles.h"
#include "ZipperCommon.h"
#include "unzip.h"

using namespace zipper;

struct CUnzipper::Work {
    z_stream stream = {};
    bool streamReady = false;
    unsigned char in[kBlockSize];
    unsigned char out[kBlockSize];

    ~Work() {
        if (streamReady) inflateEnd(&stream);
    }
};

namespace {

bool SetTimesFromDos(HANDLE file, DWORD dosDateTime) {
    FILETIME local, utc;
    return DosDateTimeToFileTime(HIWORD(dosDateTime), LOWORD(dosDateTime), &local) &&
           LocalFileTimeToFileTime(&local, &utc) && SetFileTime(file, &utc, nullptr, &utc);
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

    bool Create(const char* folder) {
        if (!GetTempFileNameA(folder, "vlb", 0, m_path)) {
            m_path[0] = '\0';
            return false;
        }
        m_file.Attach(CreateFileA(m_path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        return m_file.IsValid();
    }
    HANDLE Handle() const { return m_file.Get(); }
    bool CommitTo(const char* destination) {
        if (!m_file.Close() || !MoveFileExA(m_path, destination, MOVEFILE_REPLACE_EXISTING)) return false;
        m_path[0] = '\0';
        return true;
    }

private:
    CHandle m_file;
    char m_path[MAX_PATH] = {};
};

// A component made only of dots and spaces ("..", "...", ". .") can climb
// out of the folder once Windows trims it; a single "." stays where it is.
bool IsClimbingComponent(const char* part, size_t length) {
    if (length == 0 || (length == 1 && part[0] == '.')) return false;
    for (size_t i = 0; i < length; ++i)
        if (part[i] != '.' && part[i] != ' ') return false;
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
    zlib_filefunc64_def funcs = Win32FileFuncs();
    m_unzip = unzOpen2_64(full, &funcs);
    if (!m_unzip) return false;
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
    m_outputFolder[0] = '\0';
}

bool CUnzipper::GotoFile(const char* name, bool ignorePath) {
    if (!m_unzip || !name || !*name) return false;
    char wanted[MAX_PATH];
    if (!JoinText(wanted, name)) return false;
    for (char* p = wanted; *p; ++p)
        if (*p == '/') *p = '\\';

    unzFile unzip = static_cast<unzFile>(m_unzip);
    unz64_file_pos start = {}, baseMatch = {};
    bool haveStart = unzGetFilePos64(unzip, &start) == UNZ_OK;
    bool haveBaseMatch = false;
    // One walk: a full-name match anywhere wins over an earlier base-name match.
    for (int rc = unzGoToFirstFile(unzip); rc == UNZ_OK; rc = unzGoToNextFile(unzip)) {
        ZipEntryInfo info;
        if (!GetEntryInfo(info)) continue;
        if (_stricmp(info.name, wanted) == 0) return true;
        if (ignorePath && !haveBaseMatch && _stricmp(BaseName(info.name), wanted) == 0)
            haveBaseMatch = unzGetFilePos64(unzip, &baseMatch) == UNZ_OK;
    }
    if (haveBaseMatch && unzGoToFilePos64(unzip, &baseMatch) == UNZ_OK) return true;
    if (haveStart) unzGoToFilePos64(unzip, &start);
    return false;
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

bool CUnzipper::IsSafeEntryName(const char* name) {
    if (!name || !*name || strnlen(name, MAX_PATH) >= MAX_PATH) return false;
    if (name[0] == '\\' || name[0] == '/' || strchr(name, ':')) return false;
    for (const char* part = name;;) {
        size_t length = strcspn(part, "\\/");
        if (IsClimbingComponent(part, length)) return false;
        if (!part[length]) return true;
        part += length + 1;
    }
}

bool CUnzipper::UnzipFile(const char* targetFolder, bool ignorePath) {
    if (!m_unzip) return false;
    const char* target = targetFolder ? targetFolder : m_outputFolder;
    ZipEntryInfo info;
    if (!GetEntryInfo(info) || !IsSafeEntryName(info.name)) return false;
    if (!CreateFolderPath(target)) return false;

    const char* name = info.isFolder || !ignorePath ? info.name : BaseName(info.name);
    char destination[MAX_PATH];
    if (!*name || !JoinPath(destination, target, name) || !IsInsideFolder(target, destination)) return false;
    if (info.isFolder) return CreateFolderPath(destination);
    return ExtractTo(info, destination);
}

bool CUnzipper::UnzipFileTo(const char* destinationPath) {
    if (!m_unzip || !destinationPath) return false;
    ZipEntryInfo info;
    if (!GetEntryInfo(info) || !IsSafeEntryName(info.name) || info.isFolder) return false;
    return ExtractTo(info, destinationPath);
}

bool CUnzipper::ExtractTo(const ZipEntryInfo& info, const char* destination) {
    // Only plain stored or deflated data; encrypted entries are not ours.
    if ((info.flags & 1) || (info.compressionMethod != 0 && info.compressionMethod != Z_DEFLATED)) return false;
    if (info.compressionMethod == 0 && info.compressedSize != info.uncompressedSize) return false;

    char folder[MAX_PATH];
    if (!JoinText(folder, destination)) return false;
    char* slash = strrchr(folder, '\\');
    if (!slash || !slash[1]) return false;
    slash[1] = '\0';
    if (!CreateFolderPath(folder)) return false;

    CTempFile temp;
    if (!temp.Create(folder)) return false;
    CUnzEntry entry(static_cast<unzFile>(m_unzip));
    if (!entry.OpenRaw() || !CopyEntryData(info, temp.Handle()) || !entry.Close()) return false;
    SetTimesFromDos(temp.Handle(), info.dosDate);
    return temp.CommitTo(destination);
}

// Inflates (or copies) the open entry into the file. Succeeds only when the
// data ends exactly at the declared size with the declared CRC-32; never
// writes more than the declared size.
bool CUnzipper::CopyEntryData(const ZipEntryInfo& info, HANDLE file) {
    unzFile unzip = static_cast<unzFile>(m_unzip);
    z_stream& stream = m_work->stream;
    bool deflated = info.compressionMethod == Z_DEFLATED;
    if (deflated && inflateReset(&stream) != Z_OK) return false;

    ULONGLONG total = 0;
    uLong crc = crc32(0, nullptr, 0);
    auto emit = [&](const unsigned char* data, DWORD size) {
        total += size;
        if (total > info.uncompressedSize) return false;
        crc = crc32(crc, data, size);
        DWORD written = 0;
        return size == 0 || (WriteFile(file, data, size, &written, nullptr) && written == size);
    };

    bool ended = !deflated;
    for (;;) {
        if (m_stop && *m_stop) return false;
        int got = unzReadCurrentFile(unzip, m_work->in, kBlockSize);
        if (got < 0) return false;
        if (got == 0) break;
        if (!deflated) {
            if (!emit(m_work->in, static_cast<DWORD>(got))) return false;
            continue;
        }
        stream.next_in = m_work->in;
        stream.avail_in = static_cast<uInt>(got);
        do {
            stream.next_out = m_work->out;
            stream.avail_out = kBlockSize;
            int rc = inflate(&stream, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) return false;
            if (!emit(m_work->out, kBlockSize - stream.avail_out)) return false;
            ended = rc == Z_STREAM_END;
        } while (!ended && stream.avail_out == 0);
        if (ended) break;
    }
    return ended && total == info.uncompressedSize && crc == info.crc;
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

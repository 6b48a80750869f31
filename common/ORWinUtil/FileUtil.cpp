#include "FileUtil.h"

#include <string>
#include <vector>

#include "Handles.h"
#include "Log.h"

namespace {
bool IsDots(const char* name) {
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

const DWORD kCopyChunkBytes = 1024 * 1024;

// Sends the source's data to the open target a chunk at a time, asking the
// sink between chunks, so Cancel stops even a copy of a huge file at once.
bool CopyData(HANDLE source, HANDLE target, ICopyFolderSink* sink) {
    std::vector<char> buffer(kCopyChunkBytes);
    for (;;) {
        if (sink && sink->IsCancelled()) {
            SetLastError(ERROR_REQUEST_ABORTED);
            return false;
        }
        DWORD read = 0, written = 0;
        if (!ReadFile(source, buffer.data(), kCopyChunkBytes, &read, nullptr)) return false;
        if (read == 0) return true;
        if (!WriteFile(target, buffer.data(), read, &written, nullptr)) return false;
        if (written != read) {
            SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
    }
}

// Copies one file as CopyFile does (data, last write time, attributes), but
// through a temporary file beside the target that is moved into place only
// when complete: a cancelled or failed copy leaves no partial file, and an
// existing target stays as it was. A hidden or read-only target is refused,
// as CopyFile refuses it.
bool CopyOneFileOnce(const char* from, const char* to, ICopyFolderSink* sink) {
    const DWORD attributes = GetFileAttributesA(from);
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    const DWORD existing = GetFileAttributesA(to);
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    CHandle source(CreateFileA(from, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!source.IsValid()) return false;

    std::string folder = to;
    const size_t slash = folder.find_last_of('\\');
    folder = slash == std::string::npos ? std::string(".") : folder.substr(0, slash);
    char temp[MAX_PATH] = {};
    if (folder.size() + 14 >= MAX_PATH) {   // GetTempFileName needs room for "\\vlcXXXX.tmp"
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    if (!GetTempFileNameA(folder.c_str(), "vlc", 0, temp)) return false;
    CHandle target(CreateFileA(temp, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                               nullptr));
    FILETIME written = {};
    bool ok = target.IsValid() && CopyData(source, target, sink) && GetFileTime(source, nullptr, nullptr, &written) &&
              SetFileTime(target, nullptr, nullptr, &written);
    DWORD error = GetLastError();
    if (!target.Close()) ok = false;
    if (ok && !MoveFileExA(temp, to, MOVEFILE_REPLACE_EXISTING)) {
        ok = false;
        error = GetLastError();
    }
    if (!ok) {
        DeleteFileA(temp);
        SetLastError(error);
        return false;
    }
    const DWORD kept = attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                     FILE_ATTRIBUTE_ARCHIVE);
    SetFileAttributesA(to, kept ? kept : FILE_ATTRIBUTE_NORMAL);
    return true;
}

bool CopyOneFile(const char* from, const char* to, ICopyFolderSink* sink) {
    return RetryWhileShared([&] { return CopyOneFileOnce(from, to, sink); });
}
}  // namespace

bool FolderExists(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CopyFolder(const char* sourceFolder, const char* targetFolder, ICopyFolderSink* sink,
                const char* copyFailedFormat) {
    const std::string source = sourceFolder;
    const std::string target = targetFolder;
    WIN32_FIND_DATAA data;
    CFindHandle find;
    bool found = find.First((source + "\\*.*").c_str(), data);
    if (!found && GetLastError() != ERROR_FILE_NOT_FOUND) {
        LOG_ERROR("Failed to find the first file to copy.");
        return false;
    }
    if (!CreateDirectoryA(targetFolder, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        LOG_ERROR("Failed to create a folder %s.", targetFolder);
        return false;
    }
    for (; found; found = find.Next(data)) {
        if (sink && sink->IsCancelled()) return false;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            // A junction or symbolic link may loop or lead outside the store.
            LOG_ERROR("Skipped the link %s\\%s.", sourceFolder, data.cFileName);
            continue;
        }
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (IsDots(data.cFileName)) continue;
            if (!CopyFolder((source + "\\" + data.cFileName).c_str(), (target + "\\" + data.cFileName).c_str(),
                            sink, copyFailedFormat) &&
                sink && sink->IsCancelled())
                return false;
            continue;
        }
        const std::string from = source + "\\" + data.cFileName;
        const std::string to = target + "\\" + data.cFileName;
        bool copied = CopyOneFile(from.c_str(), to.c_str(), sink);
        const DWORD error = copied ? ERROR_SUCCESS : GetLastError();
        if (!copied && sink && sink->IsCancelled()) return false;
        if (!copied) LOG_ERROR(copyFailedFormat, static_cast<int>(error));
        if (sink) sink->OnFileCopied(to.c_str(), copied);
    }
    return true;
}

namespace {
// SetFileAttributes takes FILE_ATTRIBUTE_NORMAL, never 0, for "no attributes".
void ClearReadOnly(const char* path, DWORD attributes) {
    if (!(attributes & FILE_ATTRIBUTE_READONLY)) return;
    DWORD cleared = attributes & ~(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY);
    SetFileAttributesA(path, cleared ? cleared : FILE_ATTRIBUTE_NORMAL);
}
}  // namespace

bool DeleteFolderTree(const char* folder) {
    const std::string path = folder;
    WIN32_FIND_DATAA data;
    CFindHandle find;
    if (!find.First((path + "\\*").c_str(), data)) return false;
    for (bool more = true; more; more = find.Next(data)) {
        if (IsDots(data.cFileName)) continue;
        const std::string full = path + "\\" + data.cFileName;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            // Removes the link itself; what it points to is never entered.
            if (!RemoveDirectoryA(full.c_str())) return false;
        } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!DeleteFolderTree(full.c_str())) return false;
        } else {
            ClearReadOnly(full.c_str(), data.dwFileAttributes);
            if (!DeleteFileA(full.c_str())) return false;
        }
    }
    if (GetLastError() != ERROR_NO_MORE_FILES) return false;
    find.Close();
    // Windows refuses to remove a read-only folder (Wine does not).
    DWORD attributes = GetFileAttributesA(folder);
    if (attributes != INVALID_FILE_ATTRIBUTES) ClearReadOnly(folder, attributes);
    return RemoveDirectoryA(folder) != FALSE;
}

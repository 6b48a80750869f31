#include "FileUtil.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

ULONGLONG FolderTreeBytes(const char* folder) {
    const std::string base = folder;
    if (base.empty() || base.size() + 4 >= MAX_PATH) return 0;
    WIN32_FIND_DATAA found;
    CFindHandle find;
    if (!find.First((base + "\\*").c_str(), found)) return 0;
    ULONGLONG total = 0;
    do {
        if (IsDots(found.cFileName) || (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            total += FolderTreeBytes((base + "\\" + found.cFileName).c_str());
        else
            total += (static_cast<ULONGLONG>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    } while (find.Next(found));
    return total;
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

namespace {
bool IsHexDigits(const char* text, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (!isxdigit(static_cast<unsigned char>(text[i]))) return false;
    return true;
}

// The process id in a name CreateProcessTempFile made with prefix, or 0 when
// the name is not one (side files: the name followed by one of the suffixes).
DWORD ProcessOfTempFile(const char* name, const char* prefix, const char* const* sideSuffixes) {
    const size_t prefixLength = strlen(prefix);
    // prefix, 8 hex digits, "-", 4 hex digits, ".tmp"
    const size_t baseLength = prefixLength + 8 + 1 + 4 + 4;
    if (strlen(name) < baseLength || _strnicmp(name, prefix, prefixLength)) return 0;
    const char* id = name + prefixLength;
    if (!IsHexDigits(id, 8) || id[8] != '-' || !IsHexDigits(id + 9, 4) || _strnicmp(id + 13, ".tmp", 4)) return 0;
    const char* rest = name + baseLength;
    bool known = *rest == 0;
    for (const char* const* suffix = sideSuffixes; !known && suffix && *suffix; ++suffix)
        known = _stricmp(rest, *suffix) == 0;
    if (!known) return 0;
    char digits[9] = {};
    memcpy(digits, id, 8);
    return static_cast<DWORD>(strtoul(digits, nullptr, 16));
}

// Only a process that certainly no longer runs: no process of that id (the
// system answers ERROR_INVALID_PARAMETER), or one that has exited. Another
// user's process (access denied) counts as running. An id used again by a
// new process keeps the file until that one ends too.
bool ProcessHasEnded(DWORD id) {
    if (id == 0 || id == GetCurrentProcessId()) return false;
    CHandle process(OpenProcess(SYNCHRONIZE, FALSE, id));
    if (!process.IsValid()) return GetLastError() == ERROR_INVALID_PARAMETER;
    return WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
}
}  // namespace

HANDLE CreateProcessTempFileOpen(const char* folder, const char* prefix, char (&path)[MAX_PATH], DWORD flags) {
    const size_t length = strlen(folder);
    const char* separator = length && folder[length - 1] == '\\' ? "" : "\\";
    // One counter for the whole process, so that threads creating files at
    // once (the restore's lanes) each take a name of their own instead of
    // trying the same ones in turn.
    static std::atomic<unsigned> next(GetTickCount());
    for (unsigned attempt = 0; attempt < 0x10000; ++attempt) {
        int written = snprintf(path, sizeof(path), "%s%s%s%08lx-%04x.tmp", folder, separator, prefix,
                               static_cast<unsigned long>(GetCurrentProcessId()), next++ & 0xffff);
        if (written <= 0 || written >= static_cast<int>(sizeof(path))) break;
        // CREATE_NEW: never an existing file, whoever made it.
        HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL | flags, nullptr);
        if (file != INVALID_HANDLE_VALUE) return file;
        if (GetLastError() != ERROR_FILE_EXISTS) break;
    }
    path[0] = 0;
    return INVALID_HANDLE_VALUE;
}

bool CreateProcessTempFile(const char* folder, const char* prefix, char (&path)[MAX_PATH]) {
    HANDLE file = CreateProcessTempFileOpen(folder, prefix, path, 0);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

namespace {
// Walks folder for names of the pattern whose process has ended: plain files,
// or (folders) folders; remove takes each path and says whether it went.
template <class Remove>
int RemoveEndedProcessTemps(const char* folder, const char* prefix, const char* const* sideSuffixes, bool folders,
                            Remove remove) {
    const std::string base = std::string(folder) + (*folder && folder[strlen(folder) - 1] == '\\' ? "" : "\\");
    if (base.size() + strlen(prefix) + 2 >= MAX_PATH) return 0;
    int removed = 0;
    WIN32_FIND_DATAA data;
    CFindHandle find;
    for (bool more = find.First((base + prefix + "*").c_str(), data); more; more = find.Next(data)) {
        // Ours are plain; one made read-only was made so by someone else.
        if (data.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY)) continue;
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == folders) continue;
        const DWORD process = ProcessOfTempFile(data.cFileName, prefix, sideSuffixes);
        // A folder is ours only under a side name, never under a file's.
        if (!process || (folders && ProcessOfTempFile(data.cFileName, prefix, nullptr)) || !ProcessHasEnded(process))
            continue;
        const std::string path = base + data.cFileName;
        const char* what = folders ? "folder" : "file";
        if (remove(path)) {
            LOG_ERROR("Removed the temporary %s %s a stopped run left.", what, path.c_str());
            ++removed;
        } else {
            LOG_INFO("The temporary %s %s a stopped run left cannot be removed yet (error = %d).", what, path.c_str(),
                     static_cast<int>(GetLastError()));
        }
    }
    return removed;
}
}  // namespace

int RemoveEndedProcessTempFiles(const char* folder, const char* prefix, const char* const* sideSuffixes) {
    return RemoveEndedProcessTemps(folder, prefix, sideSuffixes, false,
                                   [](const std::string& path) { return DeleteFileA(path.c_str()) != FALSE; });
}

int RemoveEndedProcessTempFolders(const char* folder, const char* prefix, const char* suffix) {
    const char* const suffixes[] = {suffix, nullptr};
    return RemoveEndedProcessTemps(folder, prefix, suffixes, true,
                                   [](const std::string& path) { return DeleteFolderTree(path.c_str()); });
}

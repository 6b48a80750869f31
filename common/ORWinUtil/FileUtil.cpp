#include "FileUtil.h"

#include <string>

#include "Handles.h"
#include "Log.h"

namespace {
bool IsDots(const char* name) {
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

// Asked between the chunks of one file, so Cancel stops a copy of a large
// file within a chunk; CopyFileEx then deletes the partial target.
DWORD CALLBACK CopyProgress(LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, DWORD, DWORD, HANDLE,
                            HANDLE, LPVOID data) {
    ICopyFolderSink* sink = static_cast<ICopyFolderSink*>(data);
    return sink && sink->IsCancelled() ? PROGRESS_CANCEL : PROGRESS_CONTINUE;
}

bool CopyOneFile(const char* from, const char* to, ICopyFolderSink* sink) {
    return RetryWhileShared([&] { return CopyFileExA(from, to, CopyProgress, sink, nullptr, 0) != FALSE; });
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

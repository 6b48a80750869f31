#include "FileUtil.h"

#include <string>

#include "Handles.h"
#include "Log.h"

namespace {
bool IsDots(const char* name) {
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
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
        bool copied = CopyFileA(from.c_str(), to.c_str(), FALSE) != FALSE;
        if (!copied) LOG_ERROR(copyFailedFormat, static_cast<int>(GetLastError()));
        if (sink) sink->OnFileCopied(to.c_str(), copied);
    }
    return true;
}

bool DeleteFolderTree(const char* folder) {
    const std::string path = folder;
    WIN32_FIND_DATAA data;
    CFindHandle find;
    if (!find.First((path + "\\*").c_str(), data)) return false;
    for (bool more = true; more; more = find.Next(data)) {
        if (IsDots(data.cFileName)) continue;
        const std::string full = path + "\\" + data.cFileName;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!DeleteFolderTree(full.c_str())) return false;
        } else {
            if (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
                SetFileAttributesA(full.c_str(), data.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
            if (!DeleteFileA(full.c_str())) return false;
        }
    }
    if (GetLastError() != ERROR_NO_MORE_FILES) return false;
    find.Close();
    return RemoveDirectoryA(folder) != FALSE;
}

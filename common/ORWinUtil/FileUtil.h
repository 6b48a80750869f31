// Folder-tree operations used around backup archives: copying a mail client's
// data folder into a staging folder, and removing a folder tree.
#pragma once
#include <windows.h>

// What CopyFolder reports as it goes. The utility library knows nothing of
// archives or dialogs; the caller decides what a copied file means.
class ICopyFolderSink {
public:
    virtual ~ICopyFolderSink() = default;
    // After each file: copied is false when it failed (already logged).
    virtual void OnFileCopied(const char* targetPath, bool copied) = 0;
    // Asked before each file and sub-folder, and between the chunks of a
    // file being copied; true stops the walk (the partial file is removed).
    virtual bool IsCancelled() = 0;
};

// Copies the tree of sourceFolder into targetFolder (created, one level; its
// parent must exist), replacing files of the same name. Fails only when the
// source cannot be enumerated ("Failed to find the first file to copy.") or
// the target cannot be created ("Failed to create a folder %s."), or when the
// sink cancelled. A file that fails to copy is logged with copyFailedFormat
// (one %d, the system error code) and the walk goes on; a sharing violation
// is retried a few times first. Junctions and symbolic links are logged and
// skipped, never followed.
bool CopyFolder(const char* sourceFolder, const char* targetFolder, ICopyFolderSink* sink,
                const char* copyFailedFormat);

// Removes a folder with everything below it, read-only files included. Stops
// at the first file or folder it cannot delete; false then, and false when
// the folder cannot be enumerated. A junction or symbolic link below it is
// removed itself, never entered. Logs nothing.
bool DeleteFolderTree(const char* folder);

// A path that names an existing folder.
bool FolderExists(const char* path);

// The bytes of all files below folder; junctions and symbolic links are not
// followed. What cannot be listed counts as nothing.
ULONGLONG FolderTreeBytes(const char* folder);

// The error of a write that found no room left on its drive.
inline bool IsDiskFull(DWORD error) { return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL; }

// A scanner or indexer may hold a file for a moment: an attempt that fails
// with a sharing or lock violation is made again, kSharingRetries times,
// kSharingRetryPauseMs apart. True when an attempt succeeded.
const unsigned kSharingRetries = 5;
const DWORD kSharingRetryPauseMs = 100;
template <class Attempt>
bool RetryWhileShared(Attempt attempt) {
    for (unsigned retry = 0;; ++retry) {
        if (attempt()) return true;
        DWORD error = GetLastError();
        if (retry >= kSharingRetries || (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION))
            return false;
        Sleep(kSharingRetryPauseMs);
    }
}

// Temporary files named after the process that makes them,
// "<prefix><process id, 8 hex digits>-<4 hex digits>.tmp", so that a later
// run can tell what a killed process left from the files of one still at
// work. Creates the file, empty, with normal attributes, in folder; path
// receives its full name. False when no name fits or none could be created.
bool CreateProcessTempFile(const char* folder, const char* prefix, char (&path)[MAX_PATH]);
// The same, but the file stays open for writing (not shared), made with
// flags besides FILE_ATTRIBUTE_NORMAL; INVALID_HANDLE_VALUE on failure.
HANDLE CreateProcessTempFileOpen(const char* folder, const char* prefix, char (&path)[MAX_PATH], DWORD flags);
// Removes from folder the files CreateProcessTempFile named with this prefix
// whose process has ended, and such a name followed by one of the side-file
// suffixes (sideSuffixes: null-terminated list, or null). A file of a
// process still running, or one that cannot be asked about, stays. Returns
// how many were removed; each is logged.
int RemoveEndedProcessTempFiles(const char* folder, const char* prefix, const char* const* sideSuffixes);
// The same for folders named after such a file with suffix (".stage"): the
// whole folder goes, links inside it not followed.
int RemoveEndedProcessTempFolders(const char* folder, const char* prefix, const char* suffix);

#include "MoveReplace.h"

namespace {
// The attributes SetFileAttributesA accepts; the others it cannot set.
const DWORD kSettableAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
                                  FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_TEMPORARY;

DWORD Settable(DWORD attributes) {
    attributes &= kSettableAttributes;
    return attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
}
}  // namespace

bool MoveFileReplacing(const char* source, const char* destination) {
    DWORD attributes = GetFileAttributesA(destination);
    bool cleared = false;
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        (attributes & FILE_ATTRIBUTE_READONLY)) {
        if (!SetFileAttributesA(destination, Settable(attributes & ~FILE_ATTRIBUTE_READONLY))) return false;
        cleared = true;
    }
    if (MoveFileExA(source, destination, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    DWORD error = GetLastError();
    if (cleared) SetFileAttributesA(destination, Settable(attributes));
    SetLastError(error);
    return false;
}

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
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    // Most destinations are new or writable: the move alone does. Only when
    // it fails is the destination looked at, since a lookup costs a call.
    if (MoveFileExA(source, destination, flags)) return true;
    DWORD error = GetLastError();
    // Windows will not replace a read-only file: its bit is cleared for the
    // move and put back when the move still fails.
    const DWORD attributes = GetFileAttributesA(destination);
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        (attributes & FILE_ATTRIBUTE_READONLY) &&
        SetFileAttributesA(destination, Settable(attributes & ~FILE_ATTRIBUTE_READONLY))) {
        if (MoveFileExA(source, destination, flags)) return true;
        error = GetLastError();
        SetFileAttributesA(destination, Settable(attributes));
    }
    SetLastError(error);
    return false;
}

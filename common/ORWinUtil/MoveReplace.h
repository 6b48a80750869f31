// Moving a finished file over the one it replaces.
#pragma once
#include <windows.h>

// MoveFileExA(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH), which
// Windows refuses over a read-only file: the destination's read-only bit is
// cleared just before the move, only when set, and set again when the move
// fails, so a failed replace leaves the destination as it was. On success the
// destination has the moved file's attributes. The move's own error code is
// kept for the caller.
bool MoveFileReplacing(const char* source, const char* destination);

// Helpers shared by CZipper and CUnzipper (not part of their interface).
#pragma once
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "ioapi.h"
#include "iowin32.h"

namespace zipper {

// Copy blocks: large enough that deflate and the disk dominate, allocated once
// per archive object.
constexpr DWORD kBlockSize = 64 * 1024;

// Joins texts into a MAX_PATH buffer; false (and an empty buffer) when the
// result would not fit.
inline bool JoinText(char (&out)[MAX_PATH], const char* first, const char* second = "",
                     const char* third = "") {
    int n = snprintf(out, MAX_PATH, "%s%s%s", first, second, third);
    if (n < 0 || n >= MAX_PATH) {
        out[0] = '\0';
        return false;
    }
    return true;
}

// GetFullPathNameA into a MAX_PATH buffer; false when empty, failing or too long.
inline bool FullPath(const char* path, char (&out)[MAX_PATH]) {
    out[0] = '\0';
    if (!path || !*path) return false;
    DWORD n = GetFullPathNameA(path, MAX_PATH, out, nullptr);
    if (n == 0 || n >= MAX_PATH) {
        out[0] = '\0';
        return false;
    }
    return true;
}

// folder + "\" + name, without doubling a separator the folder ends with.
inline bool JoinPath(char (&out)[MAX_PATH], const char* folder, const char* name) {
    size_t n = strlen(folder);
    bool separated = n == 0 || folder[n - 1] == '\\' || folder[n - 1] == '/';
    return JoinText(out, folder, separated ? "" : "\\", name);
}

inline bool StartsWithNoCase(const char* text, const char* prefix) {
    size_t n = strlen(prefix);
    return _strnicmp(text, prefix, n) == 0;
}

// Last path component (after the last "\" or "/").
inline const char* BaseName(const char* path) {
    const char* base = path;
    for (const char* p = path; *p; p = CharNextA(p))
        if (*p == '\\' || *p == '/') base = p + 1;
    return base;
}

// The Win32 file functions of minizip: 64-bit offsets, ANSI names.
inline zlib_filefunc64_def Win32FileFuncs() {
    zlib_filefunc64_def funcs;
    fill_win32_filefunc64A(&funcs);
    return funcs;
}

}  // namespace zipper

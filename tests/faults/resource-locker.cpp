// Holds a file open without sharing, as a mail client holds its store, until
// told to let go:
//   resource-locker <file> <flag file>
// Creates <flag file> once the file is open and closes the file when <flag
// file> is removed (or after two minutes). Exit 1 when the file cannot be opened.
#include <windows.h>

#include <cstdio>

#include "Handles.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: resource-locker <file> <flag file>\n");
        return 2;
    }
    CHandle file(CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) {
        fprintf(stderr, "cannot open %s: error %lu\n", argv[1], GetLastError());
        return 1;
    }
    {
        CHandle flag(CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!flag.IsValid()) return 1;
    }
    for (int waited = 0; waited < 1200 && GetFileAttributesA(argv[2]) != INVALID_FILE_ATTRIBUTES; ++waited)
        Sleep(100);
    return 0;
}

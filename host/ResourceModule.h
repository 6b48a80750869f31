// Where the desktop program's dialogs, strings and bitmaps come from: the
// satellite library once start-up has loaded one, the program file before
// that and without one. The program file's own resources (the list icons,
// the restore warning) are always at hand through GetProgramModule.
#pragma once
#include <windows.h>

#include <string>

HINSTANCE GetResourceModule();
// nullptr goes back to the program file.
void SetResourceModule(HINSTANCE module);
HINSTANCE GetProgramModule();

// A string-table entry of the resource module, through a 256-byte buffer;
// empty when the entry does not exist.
std::string LoadResString(UINT id);

// printf-style text cut to kMessageBytes - 1 characters: a long path or name
// shortens the message, never overflows it.
const size_t kMessageBytes = 1024;
std::string FormatMessageText(const char* format, ...);

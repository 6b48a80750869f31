// Text in and out of the console program. Texts are UTF-16 inside; a console
// gets them through WriteConsoleW (whatever its code page), a file or pipe
// gets bytes in the ANSI code page, the one the rest of the system speaks.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

// "\n" goes out as "\r\n".
void WriteOut(const std::wstring& text);
void WriteError(const std::wstring& text);
// One line from standard input without its line end; false at its end.
bool ReadLine(std::wstring& line);

// ANSI code page <-> UTF-16. ToAnsi fails on a character the code page lacks
// (a best-fit stand-in would name another file).
std::wstring FromAnsi(const std::string& text);
bool ToAnsi(const std::wstring& text, std::string& out);

// A string-table entry of the resource module (the satellite), up to 4095
// characters; "%1".."%9" replaced by the arguments in order.
std::wstring Text(UINT id, const std::vector<std::wstring>& arguments = {});

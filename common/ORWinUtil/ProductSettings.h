// Where Velmora is installed and which interface language the user wants,
// read the same way by the program and by each plug-in.
#pragma once
#include <string>

// "Velmora Home" under HKEY_LOCAL_MACHINE (at most 259 characters) followed by
// a backslash; failing that, the current directory and a backslash; empty
// when neither can be had. *fromRegistry tells whether the value was used.
std::string FindHomeDirectory(bool* fromRegistry);

// The three-letter language code of the user's default locale ("ENU" when it
// cannot be read, logged), replaced by the "UI Language" value when set.
std::string FindLanguageCode();

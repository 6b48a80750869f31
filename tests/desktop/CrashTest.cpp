// Raises an exception that nothing handles, with the crash handler installed
// as the desktop program installs it. Arguments: the key under
// HKEY_CURRENT_USER whose value "Home" names the home directory, the
// temporary folder, and optionally "overflow" to fail by using up the stack
// instead of by an access violation.
#include <windows.h>

#include <cstring>

#include "Log.h"
#include "MiniDumpHandler.h"

CLog g_Log;

namespace {
__attribute__((noinline)) int Recurse(int depth) {
    volatile char frame[4096];
    frame[0] = static_cast<char>(depth);
    return Recurse(depth + 1) + frame[0];
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) return 2;
    SetEnvironmentVariableA("TMP", argv[2]);
    SetEnvironmentVariableA("TEMP", argv[2]);
    CMiniDumpHandler handler("CrashTest", HKEY_CURRENT_USER, argv[1], "Home");
    if (argc == 4 && strcmp(argv[3], "overflow") == 0) return Recurse(0);
    RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
    return 0;
}

// Raises an exception that nothing handles, with the crash handler installed
// as the desktop program installs it. Arguments: the key under
// HKEY_CURRENT_USER whose value "Home" names the home directory, and the
// temporary folder.
#include <windows.h>

#include "Log.h"
#include "MiniDumpHandler.h"

CLog g_Log;

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    SetEnvironmentVariableA("TMP", argv[2]);
    SetEnvironmentVariableA("TEMP", argv[2]);
    CMiniDumpHandler handler("CrashTest", HKEY_CURRENT_USER, argv[1], "Home");
    RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
    return 0;
}

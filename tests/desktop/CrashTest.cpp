// Raises an exception that nothing handles, with the crash handler installed
// as the desktop program installs it. The home directory is the value "Home"
// under HKEY_CURRENT_USER\<VELMORA_CRASH_KEY>.
#include <windows.h>

#include "Log.h"
#include "MiniDumpHandler.h"

CLog g_Log;

namespace {
const char* CrashKey() {
    static char key[MAX_PATH] = {};
    GetEnvironmentVariableA("VELMORA_CRASH_KEY", key, sizeof(key));
    return key;
}
}  // namespace

CMiniDumpHandler g_MiniDumpHandler("CrashTest", HKEY_CURRENT_USER, CrashKey(), "Home");

int main() {
    RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
    return 0;
}

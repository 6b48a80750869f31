// Velmora.exe entry point. The desktop program's window arrives with its
// pages; for now the program configures its log and loads its plug-ins.
#include <windows.h>

#include "EngineHost.h"
#include "Log.h"
#include "ORRegistryUtil.h"

CLog g_Log;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    ConfigureModuleLog(g_Log, "\\Velmora.log", false);
    std::string home;
    if (!ORRegistryUtil::ReadStringFromRegistry(HKEY_LOCAL_MACHINE, kProductKey, "Velmora Home", home))
        return 0;
    CEngineHost host(home);
    return 0;
}

// Console check of an installed home directory: loads the engine plug-ins
// through the real host classes and prints each plug-in's name.
#include <windows.h>

#include <cstdio>

#include "EngineHost.h"
#include "EnginePlugIn.h"
#include "Log.h"
#include "ORRegistryUtil.h"

CLog g_Log;

int main() {
    std::string home;
    if (!ORRegistryUtil::ReadStringFromRegistry(HKEY_LOCAL_MACHINE, kProductKey, "Velmora Home", home)) {
        printf("FAILED: \"Velmora Home\" is not set under HKEY_LOCAL_MACHINE\\%s\n", kProductKey);
        return 1;
    }
    printf("Velmora Home: %s\n", home.c_str());
    CEngineHost host(home);
    printf("Engine plug-ins loaded: %d\n", host.GetPlugInCount());
    for (int i = 0; i < host.GetPlugInCount(); ++i) {
        CEnginePlugIn* plugIn = host.GetPlugIn(i);
        std::string info;
        plugIn->GetSysInfo(info);
        printf("  %d. \"%s\" from %s\n", i + 1, plugIn->GetName().c_str(), plugIn->GetPath().c_str());
    }
    return host.GetPlugInCount() > 0 ? 0 : 1;
}

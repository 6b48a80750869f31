// Velmora.exe: the process's globals and its entry point.
#include <windows.h>

#include "Log.h"
#include "MiniDumpHandler.h"
#include "ORRegistryUtil.h"
#include "VelmoraApp.h"

// In force from static initialisation to the end of the process.
CMiniDumpHandler g_MiniDumpHandler("Velmora", HKEY_LOCAL_MACHINE, "Software\\Orridge\\Velmora",
                                   "Velmora Home");
CLog g_Log;
CVelmoraApp theApp;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    CVelmoraApp::Get()->InitInstance();
    return 0;
}

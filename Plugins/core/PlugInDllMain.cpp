#include <windows.h>

#include "Log.h"

CLog g_Log;

// The entry point accepts every reason without action; the module's work
// starts in InitPlugIn.
BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

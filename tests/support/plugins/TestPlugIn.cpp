// A plug-in for the host tests: exports the whole contract, answers with the
// name it was built with, and records every call it receives, in order, to the
// file named by the environment variable VELMORA_TEST_CALLS. The result of an
// export can be set with VELMORA_TEST_<NAME>_<EXPORT>=<integer>.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "PlugInContract.h"

#ifndef TEST_PLUGIN_NAME
#error TEST_PLUGIN_NAME must be defined
#endif

namespace {
IdentityList g_backupList;
IdentityList g_restoreList;
bool g_enabled = false;

int Record(const char* exportName, int defaultResult, const std::string& argument = std::string()) {
    char path[MAX_PATH] = {};
    if (GetEnvironmentVariableA("VELMORA_TEST_CALLS", path, sizeof(path))) {
        if (FILE* f = fopen(path, "ab")) {
            fprintf(f, "%s:%s%s\n", TEST_PLUGIN_NAME, exportName, argument.c_str());
            fclose(f);
        }
    }
    char variable[128], value[32] = {};
    snprintf(variable, sizeof(variable), "VELMORA_TEST_%s_%s", TEST_PLUGIN_NAME, exportName);
    if (GetEnvironmentVariableA(variable, value, sizeof(value))) return atoi(value);
    return defaultResult;
}
}  // namespace

VELMORA_EXPORT int __cdecl InitPlugIn() { return Record("InitPlugIn", 1); }
VELMORA_EXPORT int __cdecl DestroyPlugIn() { return Record("DestroyPlugIn", 1); }
VELMORA_EXPORT int __cdecl InitBackup() { return Record("InitBackup", 1); }
VELMORA_EXPORT int __cdecl UninitBackup() { return Record("UninitBackup", 1); }
VELMORA_EXPORT int __cdecl InitRestore(std::string path) {
    return Record("InitRestore", 1, "(" + path + ")");
}
VELMORA_EXPORT int __cdecl UninitRestore() { return Record("UninitRestore", 1); }
VELMORA_EXPORT int __cdecl Backup(std::string folder) {
    return Record("Backup", 1, "(" + folder + ")");
}
VELMORA_EXPORT int __cdecl Restore() { return Record("Restore", 1); }
VELMORA_EXPORT int __cdecl GetName(std::string* name) {
    // A long name forces a heap allocation made here and freed by the host.
    *name = TEST_PLUGIN_NAME;
    return Record("GetName", 1);
}
VELMORA_EXPORT int __cdecl GetIdentities(IdentityList** list, unsigned char side) {
    *list = side == kBackupSide ? &g_backupList : &g_restoreList;
    return Record("GetIdentities", 1);
}
VELMORA_EXPORT int __cdecl IsEnabled(bool* enabled) {
    *enabled = g_enabled;
    return Record("IsEnabled", 1);
}
VELMORA_EXPORT int __cdecl Enable() { g_enabled = true; return Record("Enable", 1); }
VELMORA_EXPORT int __cdecl Disable() { g_enabled = false; return Record("Disable", 1); }
#ifndef TEST_PLUGIN_WITHOUT_GETSYSINFO
VELMORA_EXPORT int __cdecl GetSysInfo(std::string* text) {
    *text = std::string("System information of ") + TEST_PLUGIN_NAME +
            " padded well past the small-string buffer\n";
    return Record("GetSysInfo", 1);
}
#endif

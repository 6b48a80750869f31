// A plug-in for the host tests: exports the whole contract, answers with the
// name it was built with, and records every call it receives, in order, to the
// file named by the environment variable VELMORA_TEST_CALLS. The result of an
// export can be set with VELMORA_TEST_<NAME>_<EXPORT>=<integer>.
//
// Built with TEST_PLUGIN_WITH_IDENTITIES it also has identities with items:
// the backup list holds "Main Identity" and "Second Identity", each with
// "Messages" and "Accounts"; InitRestore builds the restore list from the
// archive, a text file with one identity name per line. Calls on identities
// and items are recorded as well, Backup, Restore and InitRestore note whether
// the program's main window ("Velmora") was enabled while they ran, and
// InitBackup records the COM apartment of its thread as "Apartment(...)".
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "PlugInContract.h"

#ifndef TEST_PLUGIN_NAME
#error TEST_PLUGIN_NAME must be defined
#endif

namespace {
IdentityList g_backupList;
IdentityList g_restoreList;
bool g_enabled = false;
int Record(const char* exportName, int defaultResult, const std::string& argument);

int Record(const char* exportName, int defaultResult, const std::string& argument) {
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
int Record(const char* exportName, int defaultResult) { return Record(exportName, defaultResult, std::string()); }

#ifdef TEST_PLUGIN_WITH_IDENTITIES
class TestItem : public CBackupItem {
public:
    TestItem(const std::string& identity, const std::string& name) : m_identity(identity), m_name(name) {}
    std::string GetName() override { return m_name; }
    std::string GetDescription() override { return m_name; }
    bool IsEnabled() override { return m_enabled; }
    void Enable() override { m_enabled = true; Record("ItemEnable", 1, "(" + m_identity + "/" + m_name + ")"); }
    void Disable() override { m_enabled = false; Record("ItemDisable", 1, "(" + m_identity + "/" + m_name + ")"); }
    bool Backup(std::string, CZipper*, WorkerContext*) override { return true; }
    bool Restore(std::string, CUnzipper*, WorkerContext*) override { return true; }
    bool m_enabled = false;

private:
    std::string m_identity, m_name;
};

class TestIdentity : public CBackupIdentity {
public:
    explicit TestIdentity(const std::string& name) : m_name(name) {
        m_items.push_back(new TestItem(name, "Messages"));
        m_items.push_back(new TestItem(name, "Accounts"));
    }
    ~TestIdentity() override {
        for (CBackupItem* item : m_items) delete item;
    }
    std::string GetName() override { return m_name; }
    BackupItemList* GetItems() override { return &m_items; }
    bool IsEnabled() override { return m_enabled; }
    // Reaches every item directly, as the real identities do, without going
    // through the items' own (recorded) Enable.
    void Enable() override { SetAll(true); Record("IdentityEnable", 1, "(" + m_name + ")"); }
    void Disable() override { SetAll(false); Record("IdentityDisable", 1, "(" + m_name + ")"); }
    bool Backup(std::string, CZipper*, WorkerContext*) override { return true; }
    bool Restore(std::string, CUnzipper*, WorkerContext*) override { return true; }

private:
    void SetAll(bool enabled) {
        m_enabled = enabled;
        for (CBackupItem* item : m_items) static_cast<TestItem*>(item)->m_enabled = enabled;
    }
    std::string m_name;
    BackupItemList m_items;
    bool m_enabled = false;
};

void Clear(IdentityList& list) {
    for (CBackupIdentity* identity : list) delete identity;
    list.clear();
}

BOOL CALLBACK FindMainWindow(HWND window, LPARAM found) {
    char caption[64] = {};
    GetWindowTextA(window, caption, sizeof(caption));
    if (lstrcmpA(caption, "Velmora") != 0) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// The calling thread's COM apartment: "sta", "mta" or "none".
std::string Apartment() {
    HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (result == RPC_E_CHANGED_MODE) return "mta";
    if (SUCCEEDED(result)) CoUninitialize();
    return result == S_FALSE ? "sta" : "none";
}

std::string MainWindowState() {
    HWND main = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindMainWindow, reinterpret_cast<LPARAM>(&main));
    if (!main) return " main=none";
    return IsWindowEnabled(main) ? " main=enabled" : " main=disabled";
}
#endif
}  // namespace

VELMORA_EXPORT int __cdecl InitPlugIn() { return Record("InitPlugIn", 1); }
VELMORA_EXPORT int __cdecl DestroyPlugIn() { return Record("DestroyPlugIn", 1); }
#ifdef TEST_PLUGIN_WITH_IDENTITIES
VELMORA_EXPORT int __cdecl InitBackup() {
    Clear(g_backupList);
    g_backupList.push_back(new TestIdentity("Main Identity"));
    g_backupList.push_back(new TestIdentity("Second Identity"));
    Record("Apartment", 1, "(" + Apartment() + ")");
    return Record("InitBackup", 1);
}
VELMORA_EXPORT int __cdecl UninitBackup() { Clear(g_backupList); return Record("UninitBackup", 1); }
VELMORA_EXPORT int __cdecl InitRestore(std::string path) {
    int result = Record("InitRestore", 1, "(" + path + ")" + MainWindowState());
    Clear(g_restoreList);
    if (result == 0) return 0;
    std::ifstream archive(path);
    for (std::string line; std::getline(archive, line);)
        if (!line.empty()) g_restoreList.push_back(new TestIdentity(line));
    return result;
}
VELMORA_EXPORT int __cdecl UninitRestore() { Clear(g_restoreList); return Record("UninitRestore", 1); }
VELMORA_EXPORT int __cdecl Backup(std::string folder) {
    return Record("Backup", 1, "(" + folder + ")" + MainWindowState());
}
#else
VELMORA_EXPORT int __cdecl InitBackup() { return Record("InitBackup", 1); }
VELMORA_EXPORT int __cdecl UninitBackup() { return Record("UninitBackup", 1); }
VELMORA_EXPORT int __cdecl InitRestore(std::string path) {
    return Record("InitRestore", 1, "(" + path + ")");
}
VELMORA_EXPORT int __cdecl UninitRestore() { return Record("UninitRestore", 1); }
VELMORA_EXPORT int __cdecl Backup(std::string folder) {
    return Record("Backup", 1, "(" + folder + ")");
}
#endif
#ifdef TEST_PLUGIN_WITH_IDENTITIES
VELMORA_EXPORT int __cdecl Restore() { return Record("Restore", 1, MainWindowState()); }
#else
VELMORA_EXPORT int __cdecl Restore() { return Record("Restore", 1); }
#endif
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

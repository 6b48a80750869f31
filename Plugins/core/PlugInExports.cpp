// The fourteen exports, shared by both plug-ins.
#include "PlugInContract.h"
#include "MailPlugIn.h"
#include "PlugInModule.h"
#include "Drivers.h"
#include "SystemInfo.h"
#include "SystemSummary.h"

VELMORA_EXPORT int __cdecl InitPlugIn() {
    StartPlugIn();
    if (!g_PlugIn.backupEngine) g_PlugIn.backupEngine = new CMailPlugIn();
    if (!g_PlugIn.restoreEngine) g_PlugIn.restoreEngine = new CMailPlugIn();
    if (!g_PlugIn.systemInfo) g_PlugIn.systemInfo = new CSystemInfo(kThisPlugIn.programPaths, kThisPlugIn.programPathCount,
                                               kThisPlugIn.quietWithoutVersionResource,
                                               kThisPlugIn.noProgramMessage);
    return 1;
}

VELMORA_EXPORT int __cdecl DestroyPlugIn() {
    delete g_PlugIn.backupEngine;
    g_PlugIn.backupEngine = nullptr;
    delete g_PlugIn.restoreEngine;
    g_PlugIn.restoreEngine = nullptr;
    delete g_PlugIn.systemInfo;
    g_PlugIn.systemInfo = nullptr;
    return 1;
}

VELMORA_EXPORT int __cdecl InitBackup() {
    kThisPlugIn.buildBackupList(*g_PlugIn.backupEngine);
    return 1;
}

VELMORA_EXPORT int __cdecl UninitBackup() {
    g_PlugIn.backupEngine->ClearIdentities();
    return 1;
}

VELMORA_EXPORT int __cdecl InitRestore(std::string archivePath) {
    return InitRestoreEngine(*g_PlugIn.restoreEngine, archivePath) ? 1 : 0;
}

VELMORA_EXPORT int __cdecl UninitRestore() {
    g_PlugIn.restoreEngine->ClearIdentities();
    return 1;
}

VELMORA_EXPORT int __cdecl Backup(std::string targetFolder) {
    return RunBackup(*g_PlugIn.backupEngine, targetFolder) ? 1 : 0;
}

VELMORA_EXPORT int __cdecl Restore() {
    return RunRestore(*g_PlugIn.restoreEngine) ? 1 : 0;
}

VELMORA_EXPORT int __cdecl GetName(std::string* name) {
    *name = kThisPlugIn.fixedName ? kThisPlugIn.fixedName : g_PlugIn.backupEngine->GetDisplayName();
    return 1;
}

VELMORA_EXPORT int __cdecl GetIdentities(IdentityList** list, unsigned char backupSide) {
    CMailPlugIn* engine = backupSide == kBackupSide ? g_PlugIn.backupEngine : g_PlugIn.restoreEngine;
    *list = &engine->GetIdentityList();
    return *list ? 1 : 0;
}

VELMORA_EXPORT int __cdecl IsEnabled(bool* enabled) {
    *enabled = g_PlugIn.backupEngine->IsEnabled();
    return 1;
}

VELMORA_EXPORT int __cdecl Enable() {
    g_PlugIn.backupEngine->Enable();
    g_PlugIn.restoreEngine->Enable();
    return 1;
}

VELMORA_EXPORT int __cdecl Disable() {
    g_PlugIn.backupEngine->Disable();
    g_PlugIn.restoreEngine->Disable();
    return 1;
}

VELMORA_EXPORT int __cdecl GetSysInfo(std::string* text) {
    *text = FormatSystemSummary(*g_PlugIn.systemInfo);
    return 1;
}

// The engine plug-in contract: the fourteen exports that the desktop program
// binds by name, and the identity and item interfaces it reaches through
// GetIdentities. Host and plug-ins both include this header and are built
// against one C++ runtime and heap, since std::string crosses the boundary.
//
// Every export is extern "C", __cdecl (the caller removes the arguments) and
// exported undecorated through PlugInExports.def; each returns 1 for success
// and 0 for failure.
#pragma once
#include <string>
#include <vector>

class CZipper;
class CUnzipper;
struct WorkerContext;
class CBackupItem;
class CBackupIdentity;

typedef std::vector<CBackupItem*> BackupItemList;
typedef std::vector<CBackupIdentity*> IdentityList;

// A selectable leaf item (messages, accounts). The virtual slot order is part
// of the contract: the host calls slots 1 and 3 to 5.
class CBackupItem {
public:
    virtual ~CBackupItem() = default;                                            // slot 0
    virtual std::string GetName() = 0;                                           // slot 1
    virtual std::string GetDescription() = 0;                                    // slot 2
    virtual bool IsEnabled() = 0;                                                // slot 3
    virtual void Enable() = 0;                                                   // slot 4
    virtual void Disable() = 0;                                                  // slot 5
    virtual bool Backup(std::string folder, CZipper* zipper, WorkerContext* context) = 0;      // slot 6
    virtual bool Restore(std::string archive, CUnzipper* unzipper, WorkerContext* context) = 0; // slot 7
};

// An identity container (an Outlook Express identity, an Outlook profile).
// Same slots as CBackupItem, with GetItems in slot 2; Enable and Disable reach
// every item of the container.
class CBackupIdentity {
public:
    virtual ~CBackupIdentity() = default;                                        // slot 0
    virtual std::string GetName() = 0;                                           // slot 1
    virtual BackupItemList* GetItems() = 0;                                      // slot 2
    virtual bool IsEnabled() = 0;                                                // slot 3
    virtual void Enable() = 0;                                                   // slot 4
    virtual void Disable() = 0;                                                  // slot 5
    virtual bool Backup(std::string folder, CZipper* zipper, WorkerContext* context) = 0;      // slot 6
    virtual bool Restore(std::string archive, CUnzipper* unzipper, WorkerContext* context) = 0; // slot 7
};

// A plug-in-wide item without selection state (the Outlook Express address book).
class CGlobalBackupItem {
public:
    virtual ~CGlobalBackupItem() = default;                                      // slot 0
    virtual bool Backup(std::string folder, CZipper* zipper, WorkerContext* context) = 0;      // slot 1
    virtual bool Restore(std::string archive, CUnzipper* unzipper, WorkerContext* context) = 0; // slot 2
};

// Side argument of GetIdentities: exactly 1 selects the backup list, any other
// byte the restore list.
const unsigned char kBackupSide = 1;
const unsigned char kRestoreSide = 0;

#define VELMORA_EXPORT extern "C" __declspec(dllexport)

#define VELMORA_PLUGIN_EXPORTS(X)                                                     \
    X(InitPlugIn, int, (void))                                                        \
    X(DestroyPlugIn, int, (void))                                                     \
    X(InitBackup, int, (void))                                                        \
    X(UninitBackup, int, (void))                                                      \
    X(InitRestore, int, (std::string archivePath))                                    \
    X(UninitRestore, int, (void))                                                     \
    X(Backup, int, (std::string targetFolder))                                        \
    X(Restore, int, (void))                                                           \
    X(GetName, int, (std::string * name))                                             \
    X(GetIdentities, int, (IdentityList * *list, unsigned char backupSide))           \
    X(IsEnabled, int, (bool* enabled))                                                \
    X(Enable, int, (void))                                                            \
    X(Disable, int, (void))                                                           \
    X(GetSysInfo, int, (std::string * text))

// Pointer typedefs for the host: PFN_InitPlugIn, PFN_Backup, ...
#define VELMORA_DECLARE_PFN(name, result, args) typedef result(__cdecl* PFN_##name) args;
VELMORA_PLUGIN_EXPORTS(VELMORA_DECLARE_PFN)
#undef VELMORA_DECLARE_PFN

// The export names in binding order.
inline const char* const kPlugInExportNames[] = {
    "InitPlugIn", "DestroyPlugIn", "InitBackup", "UninitBackup", "InitRestore",
    "UninitRestore", "Backup", "Restore", "GetName", "GetIdentities",
    "IsEnabled", "Enable", "Disable", "GetSysInfo"};
const int kPlugInExportCount = sizeof(kPlugInExportNames) / sizeof(kPlugInExportNames[0]);

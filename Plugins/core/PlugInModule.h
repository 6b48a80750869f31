// Module-wide state of an engine plug-in and the points where the two
// plug-ins differ. The core is compiled into both; each plug-in defines
// kThisPlugIn in its own folder.
#pragma once
#include <windows.h>
#include <string>

#include "PlugInContract.h"

class CMailPlugIn;
class CSystemInfo;
class CUnzipper;
struct ZipEntryInfo;

// String identifiers of the plug-in satellite libraries.
enum PlugInStringId : UINT {
    kStringDisplayName = 1000,
    kStringBackupStart = 2000,
    kStringBackupDone = 2001,
    kStringBackupMessages = 2002,
    kStringBackupAccounts = 2003,
    kStringBackupAddressBook = 2004,
    kStringRestoreStart = 3000,
    kStringRestoreDone = 3001,
    kStringRestoreMessages = 3002,
    kStringRestoreAccounts = 3003,
    kStringRestoreAddressBook = 3004,
    kStringWrongUser = 4000,
    kStringWrongClientVersion = 4001,
    kStringWrongSystem = 4002,
    kStringRestoreFailedCaption = 4003,
    kStringUndoFailed = 4004,   // one %s: why the undo file could not be written
};
const UINT kProgressDialogId = 145;

struct PlugInTraits {
    const char* logFileName;            // "\\Wrenfold.log"
    bool reportLogFolderFailures;       // only Wrenfold logs a missing log folder
    const char* satelliteEnglish;       // "\\VLOEPluginLocaleSatellite_ENU.dll"
    const char* satelliteKorean;
    const char* fixedName;              // GetName's text; null: the display name
    bool missingStringLogsId;           // Wrenmark names the missing string's id
    // The mail client's program files, tried in order for its version.
    const char* const* programPaths;
    int programPathCount;
    bool quietWithoutVersionResource;   // Wrenmark: a file without version resource is not logged
    const char* noProgramMessage;       // Wrenmark: "Failed to find Outlook.exe file."
    // Fills the backup engine's identity list from the live system.
    void (*buildBackupList)(CMailPlugIn& engine);

    // The archive is archiveBaseName + ".vlb" in the target folder; every
    // entry name starts with archiveBaseName, the staging folder's name.
    const char* archiveBaseName;
    const char* stagingCreateFailedFormat;   // may hold one %s, the staging folder
    const char* stagingAddFailedFormat;      // may hold one %s, the staging folder
    const char* copyFailedFormat;            // CopyFolder's per-file message, one %d
    // Classifies one archive entry while InitRestore builds the restore
    // engine's list; null: the archive holds nothing this plug-in restores.
    void (*catalogueEntry)(CMailPlugIn& restoreEngine, const ZipEntryInfo& entry);
    // Restores one selected container of the restore engine; null: the
    // container's own Restore. Returns what the container returned.
    bool (*restoreContainer)(CMailPlugIn& backupEngine, CBackupIdentity& container,
                             const std::string& archive, CUnzipper& unzipper, WorkerContext* context);
};
extern const PlugInTraits kThisPlugIn;

// State that lives from InitPlugIn to DestroyPlugIn.
struct PlugInState {
    CMailPlugIn* backupEngine = nullptr;
    CMailPlugIn* restoreEngine = nullptr;
    CSystemInfo* systemInfo = nullptr;
    HMODULE satellite = nullptr;        // stays loaded for the rest of the process
    std::string homeDirectory;          // ends in a backslash, or empty
    std::string languageCode;
};
extern PlugInState g_PlugIn;

// Start-up: log, home directory, language, satellite library.
void StartPlugIn();

// Loads a string of the satellite library (the host program's module when no
// satellite is loaded); empty, and logged, when the string does not exist.
std::string LoadPlugInString(HMODULE module, UINT id);
inline std::string LoadPlugInString(UINT id) { return LoadPlugInString(g_PlugIn.satellite, id); }

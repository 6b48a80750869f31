// Wrenmark: the engine plug-in for Outlook. What differs from Wrenfold.
#include "MailPlugIn.h"
#include "OTDiscovery.h"
#include "PlugInModule.h"

namespace {
// The usual places, in order; CSystemInfo first asks "App Paths" and the
// system's program-files folder.
const char* const kProgramPaths[] = {
    "C:\\Program Files\\Microsoft Office\\OFFICE\\OUTLOOK.EXE",
    "C:\\Program Files\\Microsoft Office\\OFFICE10\\OUTLOOK.EXE",
    "C:\\Program Files\\Microsoft Office\\OFFICE11\\OUTLOOK.EXE",
};
}

const PlugInTraits kThisPlugIn = {
    "\\Wrenmark.log",
    false,
    "\\VLOTPluginLocaleSatellite_ENU.dll",
    "\\VLOTPluginLocaleSatellite_KOR.dll",
    nullptr,
    true,
    kProgramPaths,
    3,
    true,
    "Failed to find Outlook.exe file.",
    BuildOTBackupList,
    "Outlook",
    "Failed to create Outlook backup folder %s.",
    "Failed to add a folder to Zip file %s.",
    "CopyFile call failed with error = %d.",
    CatalogueOTEntry,
    nullptr,
};

// Wrenfold: the engine plug-in for Outlook Express. What differs from Wrenmark.
#include "MailPlugIn.h"
#include "OEDiscovery.h"
#include "PlugInModule.h"

namespace {
// The usual place; CSystemInfo first asks "App Paths" and the system's
// program-files folder.
const char* const kProgramPaths[] = {"C:\\Program Files\\Outlook Express\\msimn.exe"};
}

const PlugInTraits kThisPlugIn = {
    "\\Wrenfold.log",
    true,
    "\\VLOEPluginLocaleSatellite_ENU.dll",
    "\\VLOEPluginLocaleSatellite_KOR.dll",
    "Outlook Express",
    false,
    kProgramPaths,
    1,
    false,
    nullptr,
    BuildOEBackupList,
    "Outlook Express",
    "Failed to create Outlook Express backup folder.",
    "Failed to add a folder to Zip file.",
    "CopyFile call failed with %d.",
    CatalogueOEEntry,
    RestoreOEContainer,
};

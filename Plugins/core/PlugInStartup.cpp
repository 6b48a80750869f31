#include "Log.h"
#include "ORRegistryUtil.h"
#include "PlugInModule.h"
#include "ProductSettings.h"

PlugInState g_PlugIn;

void StartPlugIn() {
    ConfigureModuleLog(g_Log, kThisPlugIn.logFileName, kThisPlugIn.reportLogFolderFailures);
    bool homeFromRegistry = false;
    g_PlugIn.homeDirectory = FindHomeDirectory(&homeFromRegistry);
    if (!homeFromRegistry)
        LOG_ERROR("Failed to read the Velmora home directory from registry. Use the current directory instead.");
    g_PlugIn.languageCode = FindLanguageCode();
    // A restore killed half way left the only good copy of a key aside: it goes
    // back now, before anything reads or backs up that key.
    if (!ORRegistryUtil::PutBackInterruptedRestore(HKEY_CURRENT_USER))
        LOG_ERROR("A key an interrupted restore left aside could not be put back yet.");

    const char* satellite = kThisPlugIn.satelliteEnglish;
    if (g_PlugIn.languageCode == "KOR") {
        satellite = kThisPlugIn.satelliteKorean;
    } else if (g_PlugIn.languageCode != "ENU") {
        LOG_ERROR("Unsupported UI Language %s. Default to ENU.", g_PlugIn.languageCode.c_str());
    }
    // The home directory ends in a backslash and the names start with one.
    std::string home = g_PlugIn.homeDirectory;
    if (!home.empty()) home.pop_back();
    std::string path = home + satellite;
    if (path.size() < MAX_PATH) g_PlugIn.satellite = LoadLibraryA(path.c_str());
    if (!g_PlugIn.satellite) LOG_ERROR("Failed to load resource DLL %s.", path.c_str());
}

std::string LoadPlugInString(HMODULE module, UINT id) {
    char text[256] = {};
    if (LoadStringA(module, id, text, sizeof(text)) <= 0) {
        if (kThisPlugIn.missingStringLogsId)
            LOG_ERROR("The string resource %d does not exist.", static_cast<int>(id));
        else
            LOG_ERROR("The string resource does not exist.");
        return std::string();
    }
    return text;
}

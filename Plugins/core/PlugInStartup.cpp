#include <cstring>

#include "Log.h"
#include "ORRegistryUtil.h"
#include "PlugInModule.h"

PlugInState g_PlugIn;

namespace {
const DWORD kPathBytes = 260;

std::string FindHomeDirectory() {
    char home[kPathBytes + 1] = {};
    DWORD size = kPathBytes, type = 0;
    if (ORRegistryUtil::QueryRegValue(HKEY_LOCAL_MACHINE, kProductKey, "Velmora Home", &type,
                                      reinterpret_cast<BYTE*>(home), &size) == ERROR_SUCCESS &&
        strlen(home) < kPathBytes) {   // at most 259 characters
        return std::string(home) + "\\";
    }
    LOG_ERROR("Failed to read the Velmora home directory from registry. Use the current directory instead.");
    char current[kPathBytes] = {};
    DWORD length = GetCurrentDirectoryA(kPathBytes, current);
    if (length == 0 || length >= kPathBytes) return std::string();
    return std::string(current) + "\\";
}

std::string FindLanguageCode() {
    char code[32] = {};
    std::string result;
    if (GetLocaleInfoA(GetUserDefaultLCID(), LOCALE_SABBREVLANGNAME, code, sizeof(code))) {
        LOG_DEVINFO("GetUserDefaultLCID = %s", code);
        result = code;
    } else {
        LOG_ERROR("GetLocaleInfo call failed. Default to English - United States.");
        result = "ENU";
    }
    ORRegistryUtil::ReadStringFromRegistry(HKEY_CURRENT_USER, kProductKey, "UI Language", result);
    return result;
}
}  // namespace

void StartPlugIn() {
    ConfigureModuleLog(g_Log, kThisPlugIn.logFileName, kThisPlugIn.reportLogFolderFailures);
    g_PlugIn.homeDirectory = FindHomeDirectory();
    g_PlugIn.languageCode = FindLanguageCode();

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

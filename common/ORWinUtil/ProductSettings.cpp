#include "ProductSettings.h"

#include <windows.h>

#include <cstring>

#include "Log.h"
#include "ORRegistryUtil.h"

std::string FindHomeDirectory(bool* fromRegistry) {
    char home[MAX_PATH + 1] = {};
    DWORD size = MAX_PATH, type = 0;
    *fromRegistry = ORRegistryUtil::QueryRegValue(HKEY_LOCAL_MACHINE, kProductKey, "Velmora Home", &type,
                                                  reinterpret_cast<BYTE*>(home), &size) == ERROR_SUCCESS &&
                    strlen(home) < MAX_PATH;
    if (*fromRegistry) return std::string(home) + "\\";
    char current[MAX_PATH] = {};
    DWORD length = GetCurrentDirectoryA(MAX_PATH, current);
    if (length == 0 || length >= MAX_PATH) return std::string();
    return std::string(current) + "\\";
}

std::string FindLanguageCode() {
    char code[32] = {};
    std::string result = "ENU";
    if (GetLocaleInfoA(GetUserDefaultLCID(), LOCALE_SABBREVLANGNAME, code, sizeof(code))) {
        LOG_DEVINFO("GetUserDefaultLCID = %s", code);
        result = code;
    } else {
        LOG_ERROR("GetLocaleInfo call failed. Default to English - United States.");
    }
    // Most users never set a language: the product's key is often not there.
    ORRegistryUtil::ReadStringFromRegistry(HKEY_CURRENT_USER, kProductKey, "UI Language", result, true);
    return result;
}

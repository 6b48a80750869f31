#include "ProgramStartup.h"

#include <tlhelp32.h>

#include <cstring>

#include "Handles.h"
#include "Log.h"
#include "ORRegistryUtil.h"
#include "ProductSettings.h"
#include "ResourceModule.h"


bool EnablePrivilege(HANDLE token, const char* name) {
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!LookupPrivilegeValueA(nullptr, name, &privileges.Privileges[0].Luid)) return false;
    // AdjustTokenPrivileges succeeds also when the token does not hold the
    // privilege; only GetLastError tells.
    if (!AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr)) return false;
    return GetLastError() == ERROR_SUCCESS;
}

bool EnableBackupPrivileges() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) token = nullptr;
    CHandle owner(token);
    // Both are tried, so that the one the token holds is enabled either way.
    bool backup = token && EnablePrivilege(token, SE_BACKUP_NAME);
    bool restore = token && EnablePrivilege(token, SE_RESTORE_NAME);
    if (backup && restore) return true;
    LOG_ERROR("The backup and restore privileges cannot be enabled (backup %d, restore %d).", backup ? 1 : 0,
              restore ? 1 : 0);
    return false;
}

const char* SatelliteFileName(const std::string& languageCode) {
    return languageCode == "KOR" ? "VLLocaleSatellite_KOR.dll" : "VLLocaleSatellite_ENU.dll";
}

bool LoadProgramSatellite() {
    bool fromRegistry = false;
    std::string path = FindHomeDirectory(&fromRegistry) + SatelliteFileName(FindLanguageCode());
    if (path.size() >= MAX_PATH) return false;
    // The satellite stays loaded for the rest of the process.
    HMODULE satellite = LoadLibraryA(path.c_str());
    if (!satellite) return false;
    SetResourceModule(satellite);
    return true;
}

std::string FindProgramHome() {
    std::string home;
    if (ORRegistryUtil::ReadStringFromRegistry(HKEY_LOCAL_MACHINE, kProductKey, "Velmora Home", home) && !home.empty())
        return home;
    char program[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(nullptr, program, sizeof(program));
    char* slash = length > 0 && length < sizeof(program) ? strrchr(program, '\\') : nullptr;
    if (!slash) return std::string();
    *slash = '\0';
    return program;
}

std::string ClientNameOfArchive(const std::string& archivePath) {
    size_t slash = archivePath.find_last_of("\\/");
    std::string name = slash == std::string::npos ? archivePath : archivePath.substr(slash + 1);
    size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.erase(dot);
    static const char kIncomplete[] = " (incomplete)";
    const size_t suffix = sizeof(kIncomplete) - 1;
    if (name.size() > suffix && name.compare(name.size() - suffix, suffix, kIncomplete) == 0)
        name.erase(name.size() - suffix);
    return name;
}

bool IsMailClientRunning() {
    CHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.IsValid()) {
        LOG_ERROR("CreateToolhelp32Snapshot call failed with error = %d.", static_cast<int>(GetLastError()));
        return false;
    }
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        // Some systems report a full path; the name is what follows the last backslash.
        const char* name = strrchr(entry.szExeFile, '\\');
        name = name ? name + 1 : entry.szExeFile;
        if (lstrcmpiA(name, "msimn.exe") == 0 || lstrcmpiA(name, "outlook.exe") == 0) return true;
    }
    return false;
}

#include "SystemInfo.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <shlobj.h>

#include "Handles.h"
#include "Log.h"

namespace {
const char kUsualProgramFiles[] = "C:\\Program Files\\";

// The path that "App Paths" registers for a program file name, without
// quotes and with its environment variables expanded; empty without one.
// Not having one is normal, so nothing is logged.
std::string RegisteredAppPath(const char* fileName) {
    std::string keyPath = std::string("Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\") + fileName;
    CKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, keyPath.c_str(), KEY_QUERY_VALUE) != ERROR_SUCCESS) return std::string();
    char value[MAX_PATH] = {};
    DWORD type = 0, size = sizeof(value) - 1;   // the data need not end in a terminator
    if (RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::string();
    value[size < sizeof(value) ? size : sizeof(value) - 1] = '\0';
    char expanded[MAX_PATH] = {};
    if (type == REG_EXPAND_SZ) {
        DWORD length = ExpandEnvironmentStringsA(value, expanded, sizeof(expanded));
        if (length == 0 || length > sizeof(expanded)) return std::string();
    } else {
        lstrcpynA(expanded, value, sizeof(expanded));
    }
    std::string path = expanded;
    if (!path.empty() && path[0] == '"') {
        size_t close = path.find('"', 1);
        path = close == std::string::npos ? std::string() : path.substr(1, close - 1);
    }
    return path;
}
}  // namespace

CSystemInfo::CSystemInfo(const char* const* programPaths, int pathCount, bool quietWithoutResource,
                         const char* noneFoundMessage) {
    OSVERSIONINFOEXA version = {};
    version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
    BOOL ok = GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&version));
    if (!ok) {
        version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
        ok = GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&version));
    }
    if (ok) {
        m_platformId = version.dwPlatformId;
        m_majorVersion = version.dwMajorVersion;
        m_minorVersion = version.dwMinorVersion;
    } else {
        LOG_ERROR("GetVersionEx call failed with error = %d.", static_cast<int>(GetLastError()));
    }

    for (const std::string& path : ProgramCandidates(programPaths, pathCount)) {
        m_appVersion = ReadFileVersion(path.c_str(), quietWithoutResource);
        if (!m_appVersion.empty()) break;
    }
    if (m_appVersion.empty() && noneFoundMessage) LOG_ERROR("%s", noneFoundMessage);

    char user[512] = {};
    DWORD size = sizeof(user);
    if (::GetUserNameA(user, &size))
        m_userName = user;
    else
        LOG_ERROR("GetUserName call failed with error = %d.", static_cast<int>(GetLastError()));
}

std::vector<std::string> CSystemInfo::ProgramCandidates(const char* const* usualPaths, int count) {
    std::vector<std::string> candidates;
    auto add = [&candidates](const std::string& path) {
        if (path.empty() || path.size() >= MAX_PATH) return;
        for (const std::string& known : candidates)
            if (lstrcmpiA(known.c_str(), path.c_str()) == 0) return;
        candidates.push_back(path);
    };
    for (int i = 0; i < count; ++i) {
        const char* slash = strrchr(usualPaths[i], '\\');
        add(RegisteredAppPath(slash ? slash + 1 : usualPaths[i]));
    }
    char folder[MAX_PATH] = {};
    if (SHGetSpecialFolderPathA(nullptr, folder, CSIDL_PROGRAM_FILES, FALSE)) {
        const size_t usual = sizeof(kUsualProgramFiles) - 1;
        for (int i = 0; i < count; ++i)
            if (_strnicmp(usualPaths[i], kUsualProgramFiles, usual) == 0)
                add(std::string(folder) + "\\" + (usualPaths[i] + usual));
    }
    for (int i = 0; i < count; ++i) add(usualPaths[i]);
    return candidates;
}

std::string CSystemInfo::ReadFileVersion(const char* path, bool quietWithoutResource) {
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &handle);
    if (size == 0) {
        DWORD error = GetLastError();
        if (!(quietWithoutResource && error == ERROR_RESOURCE_DATA_NOT_FOUND))
            LOG_ERROR("GetFileVersionInfoSize call failed with error %d.", static_cast<int>(error));
        return std::string();
    }
    std::unique_ptr<char, decltype(&free)> buffer(static_cast<char*>(malloc(size + 10)), &free);
    if (!buffer) {
        LOG_ERROR("Failed to malloc memory with error %d.", static_cast<int>(GetLastError()));
        return std::string();
    }
    if (!GetFileVersionInfoA(path, 0, size + 10, buffer.get())) {
        LOG_ERROR("GetFileVersionInfo call failed with error %d.", static_cast<int>(GetLastError()));
        return std::string();
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (!VerQueryValueA(buffer.get(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize) || !fixed) {
        LOG_ERROR("VerQueryValue call failed.");
        return std::string();
    }
    char text[64] = {};
    snprintf(text, sizeof(text), "%d.%d.%d.%d", static_cast<int>(HIWORD(fixed->dwFileVersionMS)),
             static_cast<int>(LOWORD(fixed->dwFileVersionMS)),
             static_cast<int>(HIWORD(fixed->dwFileVersionLS)),
             static_cast<int>(LOWORD(fixed->dwFileVersionLS)));
    return text;
}

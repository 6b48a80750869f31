#include "SystemInfo.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "Log.h"

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

    for (int i = 0; i < pathCount && m_appVersion.empty(); ++i)
        m_appVersion = ReadFileVersion(programPaths[i], quietWithoutResource);
    if (m_appVersion.empty() && noneFoundMessage) LOG_ERROR("%s", noneFoundMessage);

    char user[512] = {};
    DWORD size = sizeof(user);
    if (::GetUserNameA(user, &size))
        m_userName = user;
    else
        LOG_ERROR("GetUserName call failed with error = %d.", static_cast<int>(GetLastError()));
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

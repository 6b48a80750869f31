#include "SystemSummary.h"

#include <cstdio>

#include "SystemInfo.h"

std::string FormatSystemSummary(const CSystemInfo& info) {
    char line[5120] = {};
    snprintf(line, sizeof(line), "OS_Version: %d.%d.%d\n", static_cast<int>(info.GetPlatformId()),
             static_cast<int>(info.GetMajorVersion()), static_cast<int>(info.GetMinorVersion()));
    std::string text = line;
    snprintf(line, sizeof(line), "App_Version: %s\n", info.GetAppVersion().c_str());
    text += line;
    snprintf(line, sizeof(line), "User_Name: %s\n", info.GetUserName().c_str());
    text += line;
    return text;
}

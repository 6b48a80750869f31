#include "SummaryCheck.h"

#include <windows.h>

#include <cstdio>

#include "Log.h"
#include "PlugInModule.h"
#include "SystemSummary.h"
#include "Unzipper.h"

bool VerifySystemSummary(CUnzipper& unzipper) {
    char folder[MAX_PATH] = {};
    char file[MAX_PATH] = {};
    DWORD length = GetTempPathA(sizeof(folder), folder);
    if (length == 0 || length >= sizeof(folder) || !GetTempFileNameA(folder, "vls", 0, file)) {
        LOG_ERROR("GetTempPath call failed with error %d.", static_cast<int>(GetLastError()));
        return false;
    }
    SummaryVerdict verdict;
    bool read = false;
    if (!unzipper.GotoFile("summary.txt", true)) {
        LOG_ERROR("Failed to find summary.txt in the backup file.");
    } else if (!unzipper.UnzipFileTo(file)) {
        LOG_ERROR("UnzipFile call failed.");
    } else if (FILE* summary = fopen(file, "r")) {
        verdict = CompareSystemSummary(summary, *g_PlugIn.systemInfo);
        fclose(summary);
        read = true;
    } else {
        LOG_ERROR("_tfopen call on %s failed with error %d.", file, static_cast<int>(GetLastError()));
    }
    DeleteFileA(file);
    if (!read) return false;
    if (verdict.message == 0) return true;
    std::string text = FormatSummaryMessage(LoadPlugInString(verdict.message), verdict.storedUserName);
    MessageBoxA(nullptr, text.c_str(), LoadPlugInString(kStringRestoreFailedCaption).c_str(), MB_OK | MB_ICONERROR);
    return false;
}

#include "SystemSummary.h"

#include <cstring>
#include <memory>

#include "Log.h"
#include "PlugInModule.h"
#include "SystemInfo.h"
#include "Unzipper.h"

namespace {
const char kSummaryName[] = "summary.txt";
const char kOsKey[] = "OS_Version:";
const char kAppKey[] = "App_Version:";
const char kUserKey[] = "User_Name:";
const size_t kMessageBytes = 512;

typedef std::unique_ptr<FILE, int (*)(FILE*)> FilePtr;

bool StartsWith(const char* line, const char* key) { return strncmp(line, key, strlen(key)) == 0; }

// User names compare as Windows compares them: letters of the ANSI code page
// without regard to case, double-byte characters kept whole.
bool SameUserName(std::string a, std::string b) {
    if (!a.empty()) CharUpperBuffA(&a[0], static_cast<DWORD>(a.size()));
    if (!b.empty()) CharUpperBuffA(&b[0], static_cast<DWORD>(b.size()));
    return a == b;
}

int MajorNumber(const char* text, const char* format) {
    int number = 0;
    sscanf(text, format, &number);
    return number;
}
}  // namespace

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

bool WriteSystemSummary(const std::string& path, const CSystemInfo& info) {
    FilePtr file(fopen(path.c_str(), "w"), &fclose);
    if (!file) {
        LOG_ERROR("Failed to _tfopen %s with error = %d.", path.c_str(), static_cast<int>(GetLastError()));
        return false;
    }
    // A summary cut short would make the archive refuse to restore anywhere.
    bool written = fputs(FormatSystemSummary(info).c_str(), file.get()) >= 0;
    written = fclose(file.release()) == 0 && written;
    if (!written) LOG_ERROR("Failed to write %s.", path.c_str());
    return written;
}

bool WriteSystemSummary(const std::string& path) { return WriteSystemSummary(path, *g_PlugIn.systemInfo); }

SummaryVerdict CompareSystemSummary(FILE* summary, const CSystemInfo& current) {
    SummaryVerdict verdict;
    char line[kMessageBytes] = {};
    while (fgets(line, sizeof(line), summary)) {
        if (StartsWith(line, kOsKey)) {
            int platform = 0, major = 0, minor = 0;
            sscanf(line, "OS_Version: %d.%d.%d", &platform, &major, &minor);
            if (platform != static_cast<int>(current.GetPlatformId()) ||
                major != static_cast<int>(current.GetMajorVersion())) {
                verdict.message = kStringWrongSystem;
                break;
            }
        } else if (StartsWith(line, kAppKey)) {
            if (MajorNumber(current.GetAppVersion().c_str(), "%d.") != MajorNumber(line, "App_Version: %d.")) {
                verdict.message = kStringWrongClientVersion;
                break;
            }
        } else if (StartsWith(line, kUserKey)) {
            // The name follows the key and one blank; a bare key names nobody.
            const char* name = line + strlen(kUserKey);
            if (*name) ++name;
            std::string stored(name, strcspn(name, "\n"));
            if (!SameUserName(stored, current.GetUserName())) {
                verdict.message = kStringWrongUser;
                verdict.storedUserName = stored;
                break;
            }
        }
    }
    return verdict;
}

std::string FormatSummaryMessage(const std::string& messageTemplate, const std::string& storedUserName) {
    std::string text;
    bool nameUsed = false;
    for (size_t i = 0; i < messageTemplate.size(); ++i) {
        if (messageTemplate[i] == '%' && i + 1 < messageTemplate.size()) {
            char next = messageTemplate[i + 1];
            if (next == '%') { text += '%'; ++i; continue; }
            if (next == 's' && !nameUsed) { text += storedUserName; nameUsed = true; ++i; continue; }
        }
        text += messageTemplate[i];
    }
    // Cut to the buffer, never through a double-byte character.
    size_t end = 0;
    while (end < text.size()) {
        size_t step = IsDBCSLeadByte(static_cast<BYTE>(text[end])) && end + 1 < text.size() ? 2 : 1;
        if (end + step > kMessageBytes - 1) break;
        end += step;
    }
    text.resize(end);
    return text;
}

bool VerifySystemSummary(CUnzipper& archive, const CSystemInfo& current, HMODULE strings) {
    // A file of its own in the temporary folder, removed afterwards: two
    // checks never read each other's summary, and nothing is left behind.
    char folder[MAX_PATH] = {};
    char path[MAX_PATH] = {};
    DWORD length = GetTempPathA(sizeof(folder), folder);
    if (length == 0 || length >= sizeof(folder) || !GetTempFileNameA(folder, "vls", 0, path)) {
        LOG_ERROR("GetTempPath call failed with error %d.", static_cast<int>(GetLastError()));
        return false;
    }
    SummaryVerdict verdict;
    bool read = false;
    if (!archive.GotoFile(kSummaryName, true)) {
        LOG_ERROR("Failed to find %s in the backup file.", kSummaryName);
    } else if (!archive.UnzipFileTo(path)) {
        LOG_ERROR("UnzipFile call failed.");
    } else if (FilePtr file{fopen(path, "r"), &fclose}) {
        verdict = CompareSystemSummary(file.get(), current);
        read = true;
    } else {
        LOG_ERROR("_tfopen call on %s failed with error %d.", path, static_cast<int>(GetLastError()));
    }
    DeleteFileA(path);
    if (!read) return false;
    if (verdict.message == 0) return true;

    std::string text = FormatSummaryMessage(LoadPlugInString(strings, verdict.message), verdict.storedUserName);
    std::string caption = LoadPlugInString(strings, kStringRestoreFailedCaption);
    MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_ICONERROR | MB_OK);
    return false;
}

bool VerifySystemSummary(CUnzipper& archive) {
    return VerifySystemSummary(archive, *g_PlugIn.systemInfo, g_PlugIn.satellite);
}

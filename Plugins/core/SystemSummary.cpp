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

// A summary is a few short lines of text.
const ULONGLONG kMaxSummaryBytes = 4096;

// A file of its own in the temporary folder, removed with this object.
class CScratchFile {
public:
    CScratchFile() = default;
    ~CScratchFile() {
        if (m_path[0]) DeleteFileA(m_path);
    }
    CScratchFile(const CScratchFile&) = delete;
    CScratchFile& operator=(const CScratchFile&) = delete;
    bool Create() {
        char folder[MAX_PATH] = {};
        DWORD length = GetTempPathA(sizeof(folder), folder);
        if (length == 0 || length >= sizeof(folder) || !GetTempFileNameA(folder, "vls", 0, m_path)) {
            m_path[0] = '\0';
            return false;
        }
        return true;
    }
    const char* Path() const { return m_path; }

private:
    char m_path[MAX_PATH] = {};
};

bool IsSummaryEntry(const ZipEntryInfo& info) {
    const char* base = info.name;
    for (const char* p = info.name; *p; p = CharNextA(p))
        if (*p == '\\') base = p + 1;
    return !info.isFolder && _stricmp(base, kSummaryName) == 0;
}

// The current entry's bytes, through the scratch file; false, logged, when it
// cannot be extracted or is larger than a summary can be.
bool ReadSummaryEntry(CUnzipper& archive, const ZipEntryInfo& info, const CScratchFile& scratch,
                      std::string& bytes) {
    if (info.uncompressedSize > kMaxSummaryBytes) {
        LOG_ERROR("The system summary %s is larger than %d bytes.", info.name, static_cast<int>(kMaxSummaryBytes));
        return false;
    }
    if (!archive.UnzipFileTo(scratch.Path())) {
        LOG_ERROR("UnzipFile call failed.");
        return false;
    }
    FilePtr file(fopen(scratch.Path(), "rb"), &fclose);
    if (!file) {
        LOG_ERROR("_tfopen call on %s failed with error %d.", scratch.Path(), static_cast<int>(GetLastError()));
        return false;
    }
    char buffer[kMaxSummaryBytes + 1];
    size_t got = fread(buffer, 1, sizeof(buffer), file.get());
    bytes.assign(buffer, got);
    return true;
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
        if (StartsWith(line, kOsKey) || StartsWith(line, kAppKey) || StartsWith(line, kUserKey)) verdict.keyed = true;
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
    // Files of their own in the temporary folder, removed afterwards: two
    // checks never read each other's summary, and nothing is left behind.
    CScratchFile summary, other;
    if (!summary.Create() || !other.Create()) {
        LOG_ERROR("GetTempPath call failed with error %d.", static_cast<int>(GetLastError()));
        return false;
    }
    // The first "summary.txt" of any folder is the one; every other one must
    // say the same, or the archive says two things about where it was made.
    std::string first;
    bool found = false;
    for (bool more = archive.GotoFirstEntry(); more; more = archive.GotoNextEntry()) {
        ZipEntryInfo info;
        if (!archive.GetEntryInfo(info) || !IsSummaryEntry(info)) continue;
        std::string bytes;
        if (!ReadSummaryEntry(archive, info, found ? other : summary, bytes)) return false;
        if (!found) {
            first = bytes;
            found = true;
        } else if (bytes != first) {
            LOG_ERROR("The backup file holds two different system summaries; %s differs from the first.", info.name);
            return false;
        }
    }
    if (!found) {
        LOG_ERROR("Failed to find %s in the backup file.", kSummaryName);
        return false;
    }
    for (unsigned char c : first)
        if ((c < 0x20 && c != '\r' && c != '\n' && c != '\t') || c == 0x7F) {
            LOG_ERROR("The system summary holds the control byte 0x%02x.", static_cast<int>(c));
            return false;
        }

    SummaryVerdict verdict;
    if (FilePtr file{fopen(summary.Path(), "r"), &fclose}) {
        verdict = CompareSystemSummary(file.get(), current);
    } else {
        LOG_ERROR("_tfopen call on %s failed with error %d.", summary.Path(), static_cast<int>(GetLastError()));
        return false;
    }
    if (!verdict.keyed) {
        LOG_ERROR("The system summary holds none of its lines.");
        return false;
    }
    if (verdict.message == 0) return true;

    std::string text = FormatSummaryMessage(LoadPlugInString(strings, verdict.message), verdict.storedUserName);
    std::string caption = LoadPlugInString(strings, kStringRestoreFailedCaption);
    MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_ICONERROR | MB_OK);
    return false;
}

bool VerifySystemSummary(CUnzipper& archive) {
    return VerifySystemSummary(archive, *g_PlugIn.systemInfo, g_PlugIn.satellite);
}

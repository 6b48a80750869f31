#include "Log.h"

#include <shlobj.h>
#include <shlwapi.h>
#include <cstring>

#include "ORRegistryUtil.h"

namespace {
const char* const kKindNames[] = {"", "Error", "Info", "DevInfo", "Result"};
}

CLog::~CLog() { Close(); }

bool CLog::OpenLogFile(const char* path, bool truncate) {
    CLock lock(m_lock);
    if (m_stream) { fclose(m_stream); m_stream = nullptr; }
    lstrcpynA(m_path, path ? path : "", sizeof(m_path));
    if (strlen(path ? path : "") >= sizeof(m_path)) return false;  // never open a cut path
    m_stream = fopen(m_path, truncate ? "wb" : "ab");
    return m_stream != nullptr;
}

void CLog::Close() {
    CLock lock(m_lock);
    if (m_stream) { fclose(m_stream); m_stream = nullptr; }
}

void CLog::SetLogLevel(int level) { m_level = level; }

void CLog::SetSourcePositionLocked(const char* sourcePath, int line) {
    const char* base = sourcePath ? sourcePath : "";
    for (const char* p = base; *p; ++p)
        if (*p == '\\' || *p == '/') base = p + 1;
    lstrcpynA(m_sourceFile, base, sizeof(m_sourceFile));
    m_sourceLine = line;
}

void CLog::SetSourcePosition(const char* sourcePath, int line) {
    CLock lock(m_lock);
    SetSourcePositionLocked(sourcePath, line);
}

void CLog::WriteV(Kind kind, const char* format, va_list args) {
    if (m_level < (kind == Result ? Error : kind)) return;
    DWORD savedError = GetLastError();

    char formatted[kMessageChars + 1] = {};
    wvnsprintfA(formatted, sizeof(formatted), format, args);
    // One message is one line, and a name in it can neither forge a line nor
    // reach a terminal as an escape sequence: CR and LF become "|", every
    // other control byte (TAB and DEL too) "\xNN". Bytes from 0x80 on are
    // characters of the code page and stay.
    char message[kMessageChars * 4 + 1] = {};
    char* out = message;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(formatted); *p; ++p) {
        if (*p == '\r' || *p == '\n')
            *out++ = '|';
        else if (*p < 0x20 || *p == 0x7F)
            out += snprintf(out, 5, "\\x%02x", *p);
        else
            *out++ = static_cast<char>(*p);
    }

    if (m_stream) {
        SYSTEMTIME now;
        GetLocalTime(&now);
        char stamp[24] = {};
        snprintf(stamp, sizeof(stamp), "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth,
                 now.wDay, now.wHour, now.wMinute, now.wSecond);
        if (m_level >= 3)
            fprintf(m_stream, "%s\t%s\t%s, %d\t%s\r\n", stamp, kKindNames[kind], m_sourceFile,
                    m_sourceLine, message);
        else
            fprintf(m_stream, "%s\t%s\t%s\r\n", stamp, kKindNames[kind], message);
        fflush(m_stream);
    }
    SetLastError(savedError);
}

void CLog::LogError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    { CLock lock(m_lock); WriteV(Error, format, args); }
    va_end(args);
}

void CLog::LogInfo(const char* format, ...) {
    va_list args;
    va_start(args, format);
    { CLock lock(m_lock); WriteV(Info, format, args); }
    va_end(args);
}

void CLog::LogDevInfo(const char* format, ...) {
    va_list args;
    va_start(args, format);
    { CLock lock(m_lock); WriteV(DevInfo, format, args); }
    va_end(args);
}

void CLog::LogAt(const char* sourcePath, int line, Kind kind, const char* format, ...) {
    DWORD savedError = GetLastError();
    va_list args;
    va_start(args, format);
    {
        CLock lock(m_lock);
        SetSourcePositionLocked(sourcePath, line);
        WriteV(kind, format, args);
    }
    va_end(args);
    SetLastError(savedError);
}

void ConfigureModuleLog(CLog& log, const char* fileName, bool reportFolderFailures) {
    char folder[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathA(nullptr, folder, CSIDL_APPDATA, TRUE)) {
        if (reportFolderFailures)
            log.LogAt(__FILE__, __LINE__, CLog::Error, "Failed to find current user's Application Data folder.");
        return;
    }
    char path[MAX_PATH] = {};
    if (snprintf(path, sizeof(path), "%s\\Velmora", folder) >= static_cast<int>(sizeof(path)) ||
        (!CreateDirectoryA(path, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)) {
        if (reportFolderFailures)
            log.LogAt(__FILE__, __LINE__, CLog::Error,
                      "Failed to find current user's Velmora Application Data folder.");
        return;
    }
    size_t used = strlen(path);
    if (used + strlen(fileName) >= sizeof(path)) return;
    strcat(path, fileName);

    WIN32_FILE_ATTRIBUTE_DATA info;
    bool tooLarge = GetFileAttributesExA(path, GetFileExInfoStandard, &info) &&
                    (info.nFileSizeHigh != 0 || info.nFileSizeLow > kLogTruncateAbove);
    log.OpenLogFile(path, tooLarge);

    DWORD level = 0;
    if (!ORRegistryUtil::ReadDwordFromRegistry(HKEY_CURRENT_USER, kProductKey, "LogLevel", level, true)) {
        level = 1;
        ORRegistryUtil::WriteDwordToRegistry(HKEY_CURRENT_USER, kProductKey, "LogLevel", 1);
    } else if (level > 3) {
        level = 1;
    }
    log.SetLogLevel(static_cast<int>(level));
    log.LogAt(__FILE__, __LINE__, CLog::DevInfo, "Velmora Logging has been initialized successfully.");
}

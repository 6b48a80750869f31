// CLog: the plain-text diagnostic log of one module (program or plug-in).
//
// Each deliverable defines exactly one instance, g_Log, and writes through the
// LOG_ERROR / LOG_INFO / LOG_DEVINFO macros, which record the call site and
// write the line under one lock, so lines of two threads never mix. Every line
// is flushed as it is written: a crash loses no line.
#pragma once
#include <cstdarg>
#include <cstdio>
#include "Handles.h"

class CLog {
public:
    // Result: the outcome line of an operation, written whenever errors are.
    enum Kind { Error = 1, Info = 2, DevInfo = 3, Result = 4 };
    static const int kMessageChars = 1024;   // longer messages are cut

    CLog() = default;
    ~CLog();
    CLog(const CLog&) = delete;
    CLog& operator=(const CLog&) = delete;

    // Closes any open stream, then opens path for append, or empties it when
    // truncate is true. True when the file is open.
    bool OpenLogFile(const char* path, bool truncate);
    void Close();
    void SetLogLevel(int level);
    int GetLogLevel() const { return m_level; }
    const char* GetPath() const { return m_path; }

    // Records the source position for the next line (base name after the last
    // backslash or slash).
    void SetSourcePosition(const char* sourcePath, int line);

    // wvsprintf-style formatting, cut at kMessageChars; CR and LF in the
    // message become "|", other control bytes "\xNN". Never fails toward the
    // caller and never changes the caller's last-error code.
    void LogError(const char* format, ...);
    void LogInfo(const char* format, ...);
    void LogDevInfo(const char* format, ...);

    // Position and line in one locked step; what the macros call.
    void LogAt(const char* sourcePath, int line, Kind kind, const char* format, ...);

private:
    void WriteV(Kind kind, const char* format, va_list args);
    void SetSourcePositionLocked(const char* sourcePath, int line);

    CCriticalSection m_lock;
    FILE* m_stream = nullptr;
    char m_path[260] = {};
    int m_level = 0;
    char m_sourceFile[260] = {};
    int m_sourceLine = 0;
};

// The one log of the module this code is linked into.
extern CLog g_Log;

#define LOG_ERROR(...) g_Log.LogAt(__FILE__, __LINE__, CLog::Error, __VA_ARGS__)
#define LOG_INFO(...) g_Log.LogAt(__FILE__, __LINE__, CLog::Info, __VA_ARGS__)
#define LOG_RESULT(...) g_Log.LogAt(__FILE__, __LINE__, CLog::Result, __VA_ARGS__)
#define LOG_DEVINFO(...) g_Log.LogAt(__FILE__, __LINE__, CLog::DevInfo, __VA_ARGS__)

// Start-up configuration shared by every deliverable: the file
// "<Application Data>\Velmora" + fileName (fileName starts with a backslash),
// emptied when larger than 3 MiB, and the level from HKCU
// "Software\Orridge\Velmora" "LogLevel" (missing: 1, written back as 1).
// reportFolderFailures: try to log why the folder could not be found or made.
void ConfigureModuleLog(CLog& log, const char* fileName, bool reportFolderFailures);

// Size above which an existing log file is emptied at start-up.
const unsigned long kLogTruncateAbove = 3145728;

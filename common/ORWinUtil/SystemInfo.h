// CSystemInfo: the facts that tie a backup archive to the system it was made
// on: Windows version numbers, the mail client's program version, the user
// name. Gathered once at construction; each failure leaves its field empty.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

class CSystemInfo {
public:
    // programPaths: the mail client's program files at their usual places
    // ("C:\Program Files\..."). Where the system says the program is comes
    // first (ProgramCandidates); the first file with a version resource gives
    // the application version.
    // quietWithoutResource: do not log a file without a version resource (1812).
    // noneFoundMessage: logged when no path gives a version (null: nothing).
    CSystemInfo(const char* const* programPaths, int pathCount, bool quietWithoutResource,
                const char* noneFoundMessage);
    // Facts given rather than gathered: those of another system, such as the
    // one a backup archive was made on.
    CSystemInfo(DWORD platformId, DWORD majorVersion, DWORD minorVersion, const std::string& appVersion,
                const std::string& userName)
        : m_platformId(platformId), m_majorVersion(majorVersion), m_minorVersion(minorVersion),
          m_appVersion(appVersion), m_userName(userName) {}
    virtual ~CSystemInfo() = default;

    DWORD GetPlatformId() const { return m_platformId; }
    DWORD GetMajorVersion() const { return m_majorVersion; }
    DWORD GetMinorVersion() const { return m_minorVersion; }
    const std::string& GetAppVersion() const { return m_appVersion; }
    const std::string& GetUserName() const { return m_userName; }

    // The files to try for the usual places, in order, each once: the path
    // that "App Paths" registers for each file name, each usual place under
    // the system's program-files folder (on 64-bit Windows the folder of
    // 32-bit programs; on a localised Windows its own name), then the usual
    // places themselves.
    static std::vector<std::string> ProgramCandidates(const char* const* usualPaths, int count);
    // "%d.%d.%d.%d" of a program file's version resource; empty on failure.
    static std::string ReadFileVersion(const char* path, bool quietWithoutResource);

private:
    DWORD m_platformId = 0;
    DWORD m_majorVersion = 0;
    DWORD m_minorVersion = 0;
    std::string m_appVersion;
    std::string m_userName;
};

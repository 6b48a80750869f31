// Isolation and helpers shared by the tests. Every test gets its own scratch
// registry (a private HKEY_CURRENT_USER, optionally HKEY_LOCAL_MACHINE) and
// its own scratch folder, both thrown away whatever happens.
#pragma once
#include <windows.h>
#include <shlwapi.h>

#include <string>
#include <vector>

namespace testsupport {

// Overrides HKEY_CURRENT_USER (and, when asked, HKEY_LOCAL_MACHINE) of this
// process with fresh empty keys for the object's lifetime.
class ScratchRegistry {
public:
    explicit ScratchRegistry(bool overrideLocalMachine = false);
    ~ScratchRegistry();
    ScratchRegistry(const ScratchRegistry&) = delete;
    ScratchRegistry& operator=(const ScratchRegistry&) = delete;

private:
    std::string m_base;
    HKEY m_user = nullptr;
    HKEY m_machine = nullptr;
};

// A fresh folder under the temporary folder, removed with its content.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Path() const { return m_path; }
    std::string operator/(const std::string& relative) const { return m_path + "\\" + relative; }

private:
    std::string m_path;
};

// A process that has ended, for names of temporary files a killed run left;
// the open handle keeps its id from being used again. id is 0 when none
// could be run.
class EndedProcess {
public:
    EndedProcess();
    ~EndedProcess();
    EndedProcess(const EndedProcess&) = delete;
    EndedProcess& operator=(const EndedProcess&) = delete;
    DWORD id = 0;

private:
    HANDLE m_process = nullptr;
};
// "<prefix><id, 8 hex digits>-<rest>", as the program names its temporary files.
std::string ProcessTempName(const char* prefix, DWORD id, const char* rest);

// Removes a folder tree, read-only files included; true when it is gone.
bool RemoveTree(const std::string& path);
bool MakeDirs(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
bool ReadFileBytes(const std::string& path, std::string& bytes);
bool FileExistsAt(const std::string& path);
// The lines of a text file (LF-terminated), without their line ends.
std::vector<std::string> ReadLines(const std::string& path);
bool DirExistsAt(const std::string& path);
// Every file below a folder, as "relative\path" -> content, sorted by path.
std::vector<std::pair<std::string, std::string>> ReadTree(const std::string& folder);

// Registry keys and values made simple for tests.
bool SetString(HKEY root, const std::string& key, const std::string& name, const std::string& value,
               DWORD type = REG_SZ);
bool SetDword(HKEY root, const std::string& key, const std::string& name, DWORD value);
bool SetBinary(HKEY root, const std::string& key, const std::string& name, const std::string& bytes);
bool KeyExists(HKEY root, const std::string& key);
bool GetString(HKEY root, const std::string& key, const std::string& name, std::string& value);
// A key tree as text: one line per key and per value (name, type, hex data),
// in sorted order, so two trees compare equal exactly when they hold the same
// keys, values, types and data.
std::string DumpKeyTree(HKEY root, const std::string& key);

// Folder of the running test executable (build/bin), without trailing slash.
std::string ExecutableFolder();

}  // namespace testsupport

namespace testsupport {
// A path of the Linux build tree as Wine sees it (through drive Z:).
std::string WinePath(const char* unixPath);
}  // namespace testsupport

namespace testsupport {
// A Unix symbolic link at link (a Windows path) to target, made under Wine,
// where it shows as a reparse point. False where it cannot be made.
bool MakeSymbolicLink(const std::string& link, const std::string& target);
bool RemoveSymbolicLink(const std::string& link);
}  // namespace testsupport

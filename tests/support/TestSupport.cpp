#include "TestSupport.h"

#include <algorithm>
#include <cstdio>
#include <shlwapi.h>

namespace testsupport {
namespace {
LONG g_counter = 0;

std::string UniqueName(const char* prefix) {
    char name[96];
    snprintf(name, sizeof(name), "%s-%lu-%ld", prefix, GetCurrentProcessId(),
             InterlockedIncrement(&g_counter));
    return name;
}

void DumpKey(HKEY key, const std::string& path, std::vector<std::string>& lines) {
    lines.push_back("[" + path + "]");
    std::vector<std::string> values;
    for (DWORD i = 0;; ++i) {
        char name[1024];
        DWORD nameSize = sizeof(name), type = 0, dataSize = 0;
        if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, nullptr, &dataSize) != ERROR_SUCCESS) break;
        std::string data(dataSize, '\0');
        nameSize = sizeof(name);
        DWORD size = dataSize;
        RegEnumValueA(key, i, name, &nameSize, nullptr, &type,
                      reinterpret_cast<BYTE*>(&data[0]), &size);
        std::string line = path + "\\" + name + " type=" + std::to_string(type) + " data=";
        char hex[4];
        for (unsigned char c : data) { snprintf(hex, sizeof(hex), "%02x", c); line += hex; }
        values.push_back(line);
    }
    std::sort(values.begin(), values.end());
    lines.insert(lines.end(), values.begin(), values.end());
    std::vector<std::string> children;
    for (DWORD i = 0;; ++i) {
        char name[1024];
        DWORD nameSize = sizeof(name);
        if (RegEnumKeyExA(key, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        children.push_back(name);
    }
    std::sort(children.begin(), children.end());
    for (const std::string& child : children) {
        HKEY sub;
        if (RegOpenKeyExA(key, child.c_str(), 0, KEY_READ, &sub) == ERROR_SUCCESS) {
            DumpKey(sub, path + "\\" + child, lines);
            RegCloseKey(sub);
        }
    }
}

void CollectTree(const std::string& root, const std::string& relative,
                 std::vector<std::pair<std::string, std::string>>& out) {
    WIN32_FIND_DATAA data;
    std::string folder = relative.empty() ? root : root + "\\" + relative;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        std::string name = data.cFileName;
        if (name == "." || name == "..") continue;
        std::string rel = relative.empty() ? name : relative + "\\" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            CollectTree(root, rel, out);
        } else {
            std::string bytes;
            ReadFileBytes(root + "\\" + rel, bytes);
            out.emplace_back(rel, bytes);
        }
    } while (FindNextFileA(find, &data));
    FindClose(find);
}
}  // namespace

ScratchRegistry::ScratchRegistry(bool overrideLocalMachine) {
    m_base = "Software\\VelmoraTests\\" + UniqueName("Scratch");
    RegCreateKeyExA(HKEY_CURRENT_USER, (m_base + "\\HKCU").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                    nullptr, &m_user, nullptr);
    RegOverridePredefKey(HKEY_CURRENT_USER, m_user);
    if (overrideLocalMachine) {
        // Created through the real HKEY_USERS path of the current user.
        HKEY real = nullptr;
        RegOpenCurrentUser(KEY_ALL_ACCESS, &real);
        RegCreateKeyExA(real, (m_base + "\\HKLM").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &m_machine, nullptr);
        RegCloseKey(real);
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, m_machine);
    }
}

ScratchRegistry::~ScratchRegistry() {
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    if (m_machine) RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    if (m_user) RegCloseKey(m_user);
    if (m_machine) RegCloseKey(m_machine);
    SHDeleteKeyA(HKEY_CURRENT_USER, m_base.c_str());
}

ScratchFolder::ScratchFolder() {
    char temp[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    std::string base = temp;
    if (!base.empty() && base.back() == '\\') base.pop_back();
    m_path = base + "\\" + UniqueName("VelmoraTest");
    CreateDirectoryA(m_path.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() { RemoveTree(m_path); }

bool RemoveTree(const std::string& path) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = data.cFileName;
            if (name == "." || name == "..") continue;
            std::string full = path + "\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(full);
            } else {
                SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(full.c_str());
            }
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    RemoveDirectoryA(path.c_str());
    return !DirExistsAt(path);
}

bool MakeDirs(const std::string& path) {
    for (size_t pos = path.find('\\', 3); ; pos = path.find('\\', pos + 1)) {
        std::string part = path.substr(0, pos);
        if (!CreateDirectoryA(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
        if (pos == std::string::npos) return true;
    }
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

bool ReadFileBytes(const std::string& path, std::string& bytes) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    bytes.clear();
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), f)) > 0) bytes.append(buffer, n);
    fclose(f);
    return true;
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::string text;
    ReadFileBytes(path, text);
    std::vector<std::string> lines;
    for (size_t pos = 0, end; (end = text.find('\n', pos)) != std::string::npos; pos = end + 1)
        lines.push_back(text.substr(pos, end - pos));
    return lines;
}

bool FileExistsAt(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirExistsAt(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::pair<std::string, std::string>> ReadTree(const std::string& folder) {
    std::vector<std::pair<std::string, std::string>> out;
    CollectTree(folder, "", out);
    std::sort(out.begin(), out.end());
    return out;
}

static bool SetValue(HKEY root, const std::string& key, const std::string& name, DWORD type,
                     const void* data, DWORD size) {
    HKEY k;
    if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) != ERROR_SUCCESS)
        return false;
    LONG rc = RegSetValueExA(k, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(k);
    return rc == ERROR_SUCCESS;
}

bool SetString(HKEY root, const std::string& key, const std::string& name, const std::string& value,
               DWORD type) {
    return SetValue(root, key, name, type, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

bool SetDword(HKEY root, const std::string& key, const std::string& name, DWORD value) {
    return SetValue(root, key, name, REG_DWORD, &value, sizeof(value));
}

bool SetBinary(HKEY root, const std::string& key, const std::string& name, const std::string& bytes) {
    return SetValue(root, key, name, REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size()));
}

bool KeyExists(HKEY root, const std::string& key) {
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

bool GetString(HKEY root, const std::string& key, const std::string& name, std::string& value) {
    char buffer[4096] = {};
    DWORD size = sizeof(buffer) - 1;
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    LONG rc = RegQueryValueExA(k, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(k);
    if (rc != ERROR_SUCCESS) return false;
    value = buffer;
    return true;
}

std::string DumpKeyTree(HKEY root, const std::string& key) {
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return "<missing>";
    std::vector<std::string> lines;
    DumpKey(k, "", lines);
    RegCloseKey(k);
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

std::string ExecutableFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string folder = path;
    return folder.substr(0, folder.find_last_of('\\'));
}

}  // namespace testsupport

namespace testsupport {
std::string WinePath(const char* unixPath) {
    std::string path = std::string("Z:") + unixPath;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}
}  // namespace testsupport

namespace testsupport {
namespace {
// Wine maps Windows paths to Unix ones and starts Unix programs: links are
// made and removed by ln and rm, as a user of the machine would.
std::string UnixPath(const std::string& path) {
    typedef char*(CDECL * PFN_UnixName)(LPCWSTR);
    PFN_UnixName unixName =
        reinterpret_cast<PFN_UnixName>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name"));
    wchar_t wide[MAX_PATH] = {};
    if (!unixName || !MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH)) return std::string();
    char* name = unixName(wide);
    std::string result = name ? name : "";
    if (name) HeapFree(GetProcessHeap(), 0, name);
    return result.find('"') == std::string::npos ? result : std::string();
}

// Runs the Unix program with the arguments (quoted), then waits until the
// path has (or no longer has) the reparse-point attribute: Wine does not
// wait for a Unix process.
bool RunUnixProgram(const char* program, const std::vector<std::string>& arguments, const std::string& path,
                    bool linkWanted) {
    std::string command = program;
    for (const std::string& argument : arguments) {
        if (argument.empty()) return false;
        command += " \"" + argument + "\"";
    }
    STARTUPINFOA startup = {sizeof(startup)};
    PROCESS_INFORMATION process = {};
    const std::string image = std::string("Z:") + program;
    if (!CreateProcessA(image.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (int i = 0; i < 250; ++i, Sleep(20)) {
        DWORD attributes = GetFileAttributesA(path.c_str());
        bool isLink = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
        if (isLink == linkWanted) return true;
    }
    return false;
}
}  // namespace

bool MakeSymbolicLink(const std::string& link, const std::string& target) {
    return RunUnixProgram("/bin/ln", {"-s", UnixPath(target), UnixPath(link)}, link, true);
}

bool RemoveSymbolicLink(const std::string& link) {
    return RunUnixProgram("/bin/rm", {UnixPath(link)}, link, false);
}
EndedProcess::EndedProcess() {
    char command[] = "cmd.exe /c exit";
    STARTUPINFOA startup = {sizeof(startup)};
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &info))
        return;
    CloseHandle(info.hThread);
    m_process = info.hProcess;
    if (WaitForSingleObject(m_process, 30000) == WAIT_OBJECT_0) id = info.dwProcessId;
}

EndedProcess::~EndedProcess() {
    if (m_process) CloseHandle(m_process);
}

std::string ProcessTempName(const char* prefix, DWORD id, const char* rest) {
    char name[64];
    snprintf(name, sizeof(name), "%s%08lx-%s", prefix, static_cast<unsigned long>(id), rest);
    return name;
}

}  // namespace testsupport

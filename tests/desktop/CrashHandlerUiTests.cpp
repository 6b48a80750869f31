// The crash handler in a program that crashes on purpose, run as a separate
// process: the question, the dump file and where the debugging library and
// the dump are looked for.
#include <windows.h>
#include <shlwapi.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "UiDriver.h"

using namespace testsupport;
using namespace uidriver;

namespace {
const char* const kQuestion = "Application exits unexpectedly. Do you want to save a diagnostic file?";

struct FindBox {
    DWORD pid;
    std::string prefix;
    HWND found;
};

BOOL CALLBACK FindChildBox(HWND window, LPARAM parameter) {
    FindBox* find = reinterpret_cast<FindBox*>(parameter);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == find->pid && IsWindowVisible(window) && WindowText(window) == "CrashTest" &&
        MessageBoxText(window).compare(0, find->prefix.size(), find->prefix) == 0) {
        find->found = window;
        return FALSE;
    }
    return TRUE;
}

struct CrashHandler : ::testing::Test {
    ScratchFolder program, home, temp;
    std::string key = "Software\\VelmoraTests\\Crash-" + std::to_string(GetCurrentProcessId());
    PROCESS_INFORMATION child = {};

    // The debugger that the system's crash handling starts from the child
    // (after "No") is ended with it.
    void EndChildsDebugger() {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32 entry = {};
        entry.dwSize = sizeof(entry);
        for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
            if (entry.th32ParentProcessID != child.dwProcessId || entry.th32ProcessID == child.dwProcessId) continue;
            HANDLE debugger = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
            if (!debugger) continue;
            TerminateProcess(debugger, 0);
            WaitForSingleObject(debugger, 5000);
            CloseHandle(debugger);
        }
        CloseHandle(snapshot);
    }
    void TearDown() override {
        if (child.hProcess) {
            EndChildsDebugger();
            TerminateProcess(child.hProcess, 0);
            WaitForSingleObject(child.hProcess, 5000);
            CloseHandle(child.hProcess);
            CloseHandle(child.hThread);
        }
        SHDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
    }
    void Crash(bool withHome) {
        ASSERT_TRUE(CopyFileA((ExecutableFolder() + "\\CrashTest.exe").c_str(), (program / "CrashTest.exe").c_str(),
                              FALSE));
        if (withHome) ASSERT_TRUE(SetString(HKEY_CURRENT_USER, key, "Home", home.Path()));
        // The child inherits the key's name and its own temporary folder.
        char oldTmp[MAX_PATH] = {}, oldTemp[MAX_PATH] = {};
        GetEnvironmentVariableA("TMP", oldTmp, sizeof(oldTmp));
        GetEnvironmentVariableA("TEMP", oldTemp, sizeof(oldTemp));
        SetEnvironmentVariableA("VELMORA_CRASH_KEY", key.c_str());
        SetEnvironmentVariableA("TMP", temp.Path().c_str());
        SetEnvironmentVariableA("TEMP", temp.Path().c_str());
        // After "No" the system's crash handling starts a debugger from the
        // child; with standard handles of its own it holds none of ours open.
        SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
        HANDLE nul = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                 OPEN_EXISTING, 0, nullptr);
        STARTUPINFOA startup = {sizeof(startup)};
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
        std::string path = program / "CrashTest.exe";
        BOOL started = CreateProcessA(path.c_str(), nullptr, nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr,
                                      program.Path().c_str(), &startup, &child);
        CloseHandle(nul);
        SetEnvironmentVariableA("VELMORA_CRASH_KEY", nullptr);
        SetEnvironmentVariableA("TMP", oldTmp);
        SetEnvironmentVariableA("TEMP", oldTemp);
        ASSERT_TRUE(started);
    }
    // The child's box with this caption whose text starts with prefix.
    HWND ChildBox(const std::string& prefix, int timeoutMs = 20000) {
        FindBox find = {child.dwProcessId, prefix, nullptr};
        WaitUntil([&] {
            EnumWindows(FindChildBox, reinterpret_cast<LPARAM>(&find));
            return find.found != nullptr;
        }, timeoutMs);
        return find.found;
    }
    void AnswerAndConfirm(const std::string& dumpPath) {
        HWND question = ChildBox(kQuestion);
        ASSERT_NE(nullptr, question) << "the handler asked nothing";
        Press(question, IDYES);
        HWND saved = ChildBox("Saved dump file to '");
        ASSERT_NE(nullptr, saved);
        EXPECT_EQ("Saved dump file to '" + dumpPath + "'", MessageBoxText(saved));
        Press(saved, IDOK);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(child.hProcess, 10000));
    }
    static std::string Head(const std::string& path, size_t bytes) {
        std::string content;
        ReadFileBytes(path, content);
        return content.substr(0, bytes);
    }
};
}  // namespace

TEST_F(CrashHandler, YesWritesARealMinidumpIntoTheHomeDirectoryReplacingAnOldOne) {
    ASSERT_TRUE(WriteFileBytes(home / "CrashTest.dmp", "an older dump that must be replaced"));
    Crash(true);
    AnswerAndConfirm(home / "CrashTest.dmp");
    EXPECT_EQ("MDMP", Head(home / "CrashTest.dmp", 4));
}

TEST_F(CrashHandler, NoWritesNothing) {
    Crash(true);
    HWND question = ChildBox(kQuestion);
    ASSERT_NE(nullptr, question);
    Press(question, IDNO);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(question); }));
    EXPECT_EQ(nullptr, ChildBox("", 1500)) << "a further box after No";
    EXPECT_FALSE(FileExistsAt(home / "CrashTest.dmp"));
    EXPECT_FALSE(FileExistsAt(temp / "CrashTest.dmp"));
}

// Wine always supplies its own debugging library, whatever file lies in the
// home or program folder, so which library was found cannot be told apart
// here; where the dump goes can.
TEST_F(CrashHandler, WithoutHomeTheDumpGoesToTheTemporaryFolder) {
    Crash(false);
    AnswerAndConfirm(temp / "CrashTest.dmp");
    EXPECT_EQ("MDMP", Head(temp / "CrashTest.dmp", 4));
    EXPECT_FALSE(FileExistsAt(home / "CrashTest.dmp"));
}

// The crash handler in a program that crashes on purpose, run as a separate
// process: the question, the dump file and where it goes.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "UiDriver.h"

#include <shlobj.h>
#include <tlhelp32.h>

using namespace testsupport;
using namespace uidriver;

namespace {
const char* const kQuestion = "Application exits unexpectedly. Do you want to save a diagnostic file?";

struct CrashHandler : ::testing::Test {
    ScratchFolder program, home, temp;
    std::string key = "Software\\VelmoraTests\\Crash-" + std::to_string(GetCurrentProcessId());
    PROCESS_INFORMATION child = {};

    // Ends the child, and the debugger that the system's crash handling
    // starts from it after "No".
    void TearDown() override {
        SHDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
        if (!child.hProcess) return;
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32 entry = {sizeof(entry)};
        std::vector<HANDLE> processes = {child.hProcess};
        for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
            if (entry.th32ParentProcessID == child.dwProcessId && entry.th32ProcessID != child.dwProcessId)
                processes.insert(processes.begin(), OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
        CloseHandle(snapshot);
        for (HANDLE process : processes) {
            TerminateProcess(process, 0);
            WaitForSingleObject(process, 5000);
            CloseHandle(process);
        }
        CloseHandle(child.hThread);
        child = {};
    }
    void Crash(bool withHome, bool overflow = false) {
        ASSERT_TRUE(CopyFileA((ExecutableFolder() + "\\CrashTest.exe").c_str(), (program / "CrashTest.exe").c_str(), FALSE));
        if (withHome) ASSERT_TRUE(SetString(HKEY_CURRENT_USER, key, "Home", home.Path()));
        // Standard handles of its own, so that debugger holds none of ours open.
        SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
        HANDLE nul = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                 OPEN_EXISTING, 0, nullptr);
        STARTUPINFOA startup = {sizeof(startup)};
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
        std::string command = "CrashTest.exe \"" + key + "\" \"" + temp.Path() + "\"" + (overflow ? " overflow" : "");
        BOOL started = CreateProcessA((program / "CrashTest.exe").c_str(), &command[0], nullptr, nullptr, TRUE,
                                      DETACHED_PROCESS, nullptr, program.Path().c_str(), &startup, &child);
        CloseHandle(nul);
        ASSERT_TRUE(started);
    }
    // The child's message box (on whichever of its threads) whose text starts with prefix.
    HWND ChildBox(const std::string& prefix, int timeoutMs = 20000) {
        HWND box = nullptr;
        bool found = WaitUntil([&] {
            box = nullptr;
            HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
            THREADENTRY32 entry = {sizeof(entry)};
            for (BOOL more = Thread32First(snapshot, &entry); more && !box; more = Thread32Next(snapshot, &entry))
                if (entry.th32OwnerProcessID == child.dwProcessId)
                    box = WaitForThreadWindow(entry.th32ThreadID, "CrashTest", 0);
            CloseHandle(snapshot);
            return box && MessageBoxText(box).compare(0, prefix.size(), prefix) == 0;
        }, timeoutMs);
        EXPECT_TRUE(found || prefix.empty()) << "no box saying " << prefix;
        return found ? box : nullptr;
    }
    // Yes to the question: the child reports the dump at dump, ends, and the file is a minidump.
    void AnswerYesAndExpectDump(const std::string& dump) {
        Press(ChildBox(kQuestion), IDYES);
        HWND saved = ChildBox("Saved dump file to '");
        EXPECT_EQ("Saved dump file to '" + dump + "'", MessageBoxText(saved));
        Press(saved, IDOK);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(child.hProcess, 10000));
        std::string content;
        EXPECT_TRUE(ReadFileBytes(dump, content));
        EXPECT_EQ("MDMP", content.substr(0, 4));
    }
};

// The dump goes where the user may always write and Windows 7 does not
// redirect: "Velmora" in the local application-data folder.
std::string LocalDump() {
    char folder[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathA(nullptr, folder, CSIDL_LOCAL_APPDATA, FALSE)) return "(no local application data)";
    return std::string(folder) + "\\Velmora\\CrashTest.dmp";
}
}  // namespace

// Wine always supplies its own debugging library, so which library was found
// cannot be told apart here; where the dump goes can. No writes nothing.
TEST_F(CrashHandler, YesWritesARealMinidumpIntoLocalApplicationDataAndNoWritesNothing) {
    std::string dump = LocalDump();
    ASSERT_TRUE(MakeDirs(dump.substr(0, dump.rfind('\\'))));
    ASSERT_TRUE(WriteFileBytes(dump, "an older dump that must be replaced"));
    for (bool withHome : {true, false}) {
        Crash(withHome);
        AnswerYesAndExpectDump(dump);
        EXPECT_FALSE(FileExistsAt(home / "CrashTest.dmp") || FileExistsAt(temp / "CrashTest.dmp"));
        TearDown();
        DeleteFileA(dump.c_str());
    }
    Crash(true);
    HWND question = ChildBox(kQuestion);
    Press(question, IDNO);
    EXPECT_TRUE(question && WaitUntil([&] { return !IsWindow(question); }));
    EXPECT_EQ(nullptr, ChildBox("", 1500)) << "a further box after No";
    EXPECT_FALSE(FileExistsAt(dump) || FileExistsAt(home / "CrashTest.dmp") || FileExistsAt(temp / "CrashTest.dmp"));
}

// A thread whose stack is used up has none left for the handler's work: the
// handler's own thread asks, writes the dump and reports.
TEST_F(CrashHandler, StackOverflowStillAsksAndWritesTheDump) {
    std::string dump = LocalDump();
    DeleteFileA(dump.c_str());
    Crash(true, true);
    AnswerYesAndExpectDump(dump);
    DeleteFileA(dump.c_str());
}

// Start-up and the main window: the mail-client warning, pages, the About
// box, no home directory, the Korean interface and the release of the plug-ins.
#include <algorithm>

#include "DesktopFixture.h"

namespace {
struct MainWindow : DesktopFixture {
    std::vector<PROCESS_INFORMATION> standIns;   // ended by their handles
    void TearDown() override {
        DesktopFixture::TearDown();
        for (PROCESS_INFORMATION& process : standIns) {
            TerminateProcess(process.hProcess, 0);
            WaitForSingleObject(process.hProcess, 5000);
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
        }
    }
    // An idle program of ours under a mail client's name, with the runtime it needs.
    void RunStandIn(const std::string& exeName) {
        #ifdef _WIN64
        const char* const libgcc = "libgcc_s_seh-1.dll";
#else
        const char* const libgcc = "libgcc_s_dw2-1.dll";
#endif
        for (const char* file : {libgcc, "libstdc++-6.dll", "libwinpthread-1.dll"})
            CopyFileA((ExecutableFolder() + "\\" + file).c_str(), (data / file).c_str(), TRUE);
        ASSERT_TRUE(CopyFileA((ExecutableFolder() + "\\WineKeepAlive.exe").c_str(), (data / exeName).c_str(), FALSE));
        STARTUPINFOA startup = {sizeof(startup)};
        standIns.push_back({});
        ASSERT_TRUE(CreateProcessA((data / exeName).c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                   &startup, &standIns.back()));
        ASSERT_EQ(WAIT_TIMEOUT, WaitForSingleObject(standIns.back().hProcess, 500)) << exeName << " did not stay";
    }
    int Warnings() {
        int count = 0;
        for (HWND dialog : ThreadDialogs(threadId)) count += WindowText(dialog) == "Error - Close App";
        return count;
    }
};
}  // namespace

TEST_F(MainWindow, RunningMailClientsGiveExactlyOneWarningBeforeTheWindowOpens) {
    RunStandIn("outlook.exe");
    RunStandIn("msimn.exe");
    AddMailPlugIns();
    Start(false);
    HWND box = WaitForThreadWindow(threadId, "Error - Close App");
    ASSERT_NE(nullptr, box);
    EXPECT_EQ("Please close Outlook/Outlook Express before continue.", MessageBoxText(box));
    Settle(box);
    EXPECT_EQ(1, Warnings());
    Dismiss(box);
    ASSERT_TRUE(WaitForMainWindow());
    Settle(Main());
    EXPECT_EQ(0, Warnings());
    EXPECT_EQ("Outlook, Outlook Express, ", Texts(GetDlgItem(Page(0), IDC_BACKUP_TREE)));
}

TEST_F(MainWindow, SwitchesPagesByClickShowsAboutAndReleasesEveryPlugInInNameOrder) {
    AddMailPlugIns();
    Start();
    EXPECT_EQ(0, Warnings());   // no mail client runs
    EXPECT_TRUE(IsWindowVisible(Page(0)) && !IsWindowVisible(Page(1)));
    // The keyboard moves the tab focus but not the page; a click does.
    SendMessageA(GetDlgItem(Main(), IDC_MAIN_TAB), TCM_SETCURFOCUS, 1, 0);
    Settle(Main());
    EXPECT_TRUE(IsWindowVisible(Page(0)));
    ShowRestorePage();

    PostMessageA(Main(), WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    HWND about = WaitForThreadWindow(threadId, "About Velmora");
    EXPECT_NE(nullptr, FindWindowExA(about, nullptr, nullptr, "Velmora Version 1.5"));
    Dismiss(about);

    std::string express = home / "EnginePlugins\\TestPlugInOutlookExpressIds.dll";
    EXPECT_NE(nullptr, GetModuleHandleA(express.c_str()));
    ClearCalls();
    Close();
    EXPECT_EQ((std::vector<std::string>{"Outlook:UninitBackup", "Outlook Express:UninitBackup",
                                        "Outlook:UninitRestore", "Outlook Express:UninitRestore",
                                        "Outlook:DestroyPlugIn", "Outlook Express:DestroyPlugIn"}),
              CallsOf({"Uninit", "DestroyPlugIn"}));
    EXPECT_EQ(nullptr, GetModuleHandleA(express.c_str()));
}

TEST_F(MainWindow, WithoutHomeNoPlugInIsLoaded) {
    AddMailPlugIns(false);   // present, but nothing says where
    Start();
    EXPECT_EQ(nullptr, app.GetMainWnd()->GetHost());
    EXPECT_EQ("", Texts(GetDlgItem(Page(0), IDC_BACKUP_TREE)));
    Close();
    EXPECT_TRUE(ReadLines(calls).empty());
}

// The dialogs come from the satellite, and the strings: as the ANSI code page
// gives them, Korean only under a Korean locale, but not English in any case.
TEST_F(MainWindow, KoreanSatelliteGivesTheWindowItsTexts) {
    for (const char* satellite : {"VLLocaleSatellite_ENU.dll", "VLLocaleSatellite_KOR.dll"})
        ASSERT_TRUE(CopyFileA((WinePath(VELMORA_HOME_DIR) + "\\" + satellite).c_str(), (home / satellite).c_str(), FALSE));
    SetHome();
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kProductKey, "UI Language", "KOR"));
    ASSERT_TRUE(app.LoadSatellite());
    Start();
    char tab[64] = {};
    TCITEMA item = {TCIF_TEXT, 0, 0, tab, sizeof(tab)};
    SendMessageA(GetDlgItem(Main(), IDC_MAIN_TAB), TCM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    EXPECT_EQ(LoadResString(IDS_BACKUP_TAB), tab);
    EXPECT_NE("Backup", std::string(tab));
    EXPECT_NE("Help", WindowText(GetDlgItem(Main(), IDC_HELP_BUTTON)));
}

namespace {
struct PrivilegeCheckRun {
    HANDLE token;
    bool result;
    static DWORD WINAPI Run(void* check) {
        auto* self = static_cast<PrivilegeCheckRun*>(check);
        self->result = CVelmoraApp::CheckPrivileges(self->token);
        return 0;
    }
};
// The process token without the two privileges, as a limited XP user's or an
// unelevated Windows 7 administrator's token is.
HANDLE TokenWithoutBackupPrivileges() {
    HANDLE process = nullptr, restricted = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &process)) return nullptr;
    LUID_AND_ATTRIBUTES dropped[2] = {};
    if (LookupPrivilegeValueA(nullptr, SE_BACKUP_NAME, &dropped[0].Luid) &&
        LookupPrivilegeValueA(nullptr, SE_RESTORE_NAME, &dropped[1].Luid) &&
        !CreateRestrictedToken(process, 0, 0, nullptr, 2, dropped, 0, nullptr, &restricted))
        restricted = nullptr;
    CloseHandle(process);
    return restricted;
}
}  // namespace

// Without the backup and restore privileges no registry key can be saved or
// restored: start-up says so in one message box, in the user's language, and
// the program goes no further. With them, nothing is shown.
TEST(StartUpPrivileges, MissingPrivilegesAreToldBeforeAnyWork) {
    HANDLE token = TokenWithoutBackupPrivileges();
    ASSERT_NE(nullptr, token);
    PrivilegeCheckRun check = {token, true};
    DWORD threadId = 0;
    HANDLE thread = CreateThread(nullptr, 0, PrivilegeCheckRun::Run, &check, 0, &threadId);
    ASSERT_NE(nullptr, thread);
    HWND box = WaitForThreadWindow(threadId, "Error");
    EXPECT_EQ(LoadResString(IDS_PRIVILEGES_MISSING), MessageBoxText(box));
    EXPECT_NE(std::string::npos, MessageBoxText(box).find("backup and restore privileges"));
    if (box) Press(box, IDOK);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
    CloseHandle(thread);
    CloseHandle(token);
    EXPECT_FALSE(check.result);

    HANDLE own = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &own));
    check = {own, false};
    thread = CreateThread(nullptr, 0, PrivilegeCheckRun::Run, &check, 0, &threadId);
    ASSERT_NE(nullptr, thread);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000)) << "a box with the privileges held";
    CloseHandle(thread);
    CloseHandle(own);
    EXPECT_TRUE(check.result);

    // The Korean satellite has its own text.
    HMODULE korean = LoadLibraryExA((WinePath(VELMORA_HOME_DIR) + "\\VLLocaleSatellite_KOR.dll").c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, korean);
    wchar_t text[256] = {};
    int length = LoadStringW(korean, IDS_PRIVILEGES_MISSING, text, 256);
    FreeLibrary(korean);
    EXPECT_TRUE(length > 0 && std::any_of(text, text + length, [](wchar_t c) { return c >= 0xAC00 && c <= 0xD7A3; }));
}

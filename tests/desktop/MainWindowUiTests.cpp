// Start-up and the main window: the mail-client warning, pages, the About
// box, no home directory, the Korean interface and the release of the plug-ins.
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
        for (const char* file : {"libgcc_s_dw2-1.dll", "libstdc++-6.dll", "libwinpthread-1.dll"})
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

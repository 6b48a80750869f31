// Start-up and the main window: language, no home directory, the mail-client
// warning, the About box, page switching and the release of the plug-ins.
#include "DesktopFixture.h"

#include <tlhelp32.h>

#include "ORRegistryUtil.h"
#include "ResourceModule.h"
#include "resource.h"

using namespace testsupport;
using namespace uidriver;

namespace {
struct MainWindow : DesktopFixture {
    // Stand-in processes, killed by their handles at the end of the test.
    std::vector<PROCESS_INFORMATION> standIns;
    void TearDown() override {
        DesktopFixture::TearDown();
        for (PROCESS_INFORMATION& process : standIns) {
            TerminateProcess(process.hProcess, 0);
            WaitForSingleObject(process.hProcess, 5000);
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
        }
    }
    void RunStandIn(const std::string& exeName) {
        // An idle program of ours under that name, with the runtime it needs.
        for (const char* runtime : {"libgcc_s_dw2-1.dll", "libstdc++-6.dll", "libwinpthread-1.dll"})
            CopyFileA((ExecutableFolder() + "\\" + runtime).c_str(), (data / runtime).c_str(), FALSE);
        std::string source = ExecutableFolder() + "\\WineKeepAlive.exe";
        std::string target = data / exeName;
        ASSERT_TRUE(CopyFileA(source.c_str(), target.c_str(), FALSE));
        STARTUPINFOA startup = {sizeof(startup)};
        PROCESS_INFORMATION process = {};
        ASSERT_TRUE(CreateProcessA(target.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                   &startup, &process));
        standIns.push_back(process);
        ASSERT_TRUE(WaitUntil([&] { return ProcessRunning(exeName); }));
        ASSERT_EQ(WAIT_TIMEOUT, WaitForSingleObject(process.hProcess, 300)) << exeName << " did not stay";
    }
    static bool ProcessRunning(const std::string& exeName) {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32 entry = {};
        entry.dwSize = sizeof(entry);
        bool found = false;
        for (BOOL more = Process32First(snapshot, &entry); more && !found; more = Process32Next(snapshot, &entry))
            found = lstrcmpiA(entry.szExeFile, exeName.c_str()) == 0;
        CloseHandle(snapshot);
        return found;
    }
    int CountBoxes(const std::string& caption) {
        int count = 0;
        for (HWND dialog : ThreadDialogs(UiThread())) count += WindowText(dialog) == caption;
        return count;
    }
};
}  // namespace

TEST_F(MainWindow, RunningMailClientGivesExactlyOneWarningThenTheWindowOpens) {
    RunStandIn("outlook.exe");
    RunStandIn("msimn.exe");
    AddMailPlugIns();
    SetHome();
    Start(false);
    HWND box = ExpectBox("Error - Close App");
    EXPECT_EQ("Please close Outlook/Outlook Express before continue.", MessageBoxText(box));
    Settle(box, 300);
    EXPECT_EQ(1, CountBoxes("Error - Close App"));
    Dismiss(box);
    ASSERT_TRUE(WaitForMainWindow());
    Settle(Main(), 300);
    EXPECT_EQ(0, CountBoxes("Error - Close App"));
    EXPECT_EQ(2u, TreeRootItems(BackupControl(IDC_BACKUP_TREE)).size());
}

TEST_F(MainWindow, NoMailClientNoWarning) {
    SetHome();
    Start();
    EXPECT_EQ(nullptr, FindThreadWindow(UiThread(), "Error - Close App"));
}

TEST_F(MainWindow, WithoutHomeBothPagesStayEmptyAndNoPlugInIsLoaded) {
    AddMailPlugIns();   // present, but nothing says where
    Start();
    EXPECT_EQ(nullptr, app.GetMainWnd()->GetHost());
    EXPECT_TRUE(TreeRootItems(BackupControl(IDC_BACKUP_TREE)).empty());
    EXPECT_TRUE(TreeRootItems(RestoreControl(IDC_RESTORE_TREE)).empty());
    EXPECT_EQ(0, ListCount(BackupControl(IDC_BACKUP_PROFILES)));
    Close();
    EXPECT_TRUE(Calls().empty());
}

TEST_F(MainWindow, ShowsBannerTabsAndTheBackupPage) {
    SetHome();
    Start();
    EXPECT_EQ("Velmora", WindowText(Main()));
    HWND tab = GetDlgItem(Main(), IDC_MAIN_TAB);
    ASSERT_EQ(2, TabCtrl_GetItemCount(tab));
    char text[64] = {};
    TCITEMA item = {};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = sizeof(text);
    SendMessageA(tab, TCM_GETITEMA, 1, reinterpret_cast<LPARAM>(&item));
    EXPECT_STREQ("Restore", text);
    EXPECT_TRUE(IsWindowVisible(Page(0)));
    EXPECT_FALSE(IsWindowVisible(Page(1)));
    for (int hidden : {IDCANCEL, IDC_BACKUP_BUTTON, IDC_RESTORE_BUTTON})
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(Main(), hidden))) << hidden;
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(Main(), IDC_HELP_BUTTON)));
    EXPECT_EQ(reinterpret_cast<LRESULT>(nullptr) != SendMessageA(Main(), WM_GETICON, ICON_BIG, 0), true);

    // The keyboard moves the tab focus but not the page; a click does.
    SendMessageA(tab, TCM_SETCURFOCUS, 1, 0);
    Settle(Main());
    EXPECT_TRUE(IsWindowVisible(Page(0)));
    ShowRestorePage();
}

TEST_F(MainWindow, AboutEntryOfTheSystemMenuOpensTheAboutBox) {
    SetHome();
    Start();
    HMENU menu = GetSystemMenu(Main(), FALSE);
    char entry[64] = {};
    GetMenuStringA(menu, IDM_ABOUTBOX, entry, sizeof(entry), MF_BYCOMMAND);
    EXPECT_STREQ("&About Velmora...", entry);
    PostMessageA(Main(), WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    HWND about = ExpectBox("About Velmora");
    ASSERT_NE(nullptr, about);
    bool versionShown = false;
    for (HWND child = GetWindow(about, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        versionShown |= WindowText(child) == "Velmora Version 1.5";
    EXPECT_TRUE(versionShown);
    Dismiss(about);
    EXPECT_TRUE(IsWindowVisible(Main()));
}

TEST_F(MainWindow, ClosingReleasesEveryPlugInInNameOrder) {
    AddMailPlugIns();
    SetHome();
    Start();
    std::string express = home / "EnginePlugins\\oe.dll", outlook = home / "EnginePlugins\\ot.dll";
    EXPECT_NE(nullptr, GetModuleHandleA(express.c_str()));
    ClearCalls();
    Close();
    std::vector<std::string> releases;
    for (const std::string& call : Calls())
        if (call.find(":Uninit") != std::string::npos || call.find(":DestroyPlugIn") != std::string::npos)
            releases.push_back(call);
    EXPECT_EQ((std::vector<std::string>{"Outlook:UninitBackup", "Outlook Express:UninitBackup",
                                        "Outlook:UninitRestore", "Outlook Express:UninitRestore",
                                        "Outlook:DestroyPlugIn", "Outlook Express:DestroyPlugIn"}),
              releases);
    EXPECT_EQ(nullptr, GetModuleHandleA(express.c_str()));
    EXPECT_EQ(nullptr, GetModuleHandleA(outlook.c_str()));
}

TEST_F(MainWindow, KoreanInterfaceComesFromTheKoreanSatellite) {
    for (const char* satellite : {"VLLocaleSatellite_ENU.dll", "VLLocaleSatellite_KOR.dll"})
        ASSERT_TRUE(CopyFileA((WinePath(VELMORA_HOME_DIR) + "\\" + satellite).c_str(), (home / satellite).c_str(),
                              FALSE));
    SetHome();
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kProductKey, "UI Language", "KOR"));
    ASSERT_TRUE(app.LoadSatellite());
    Start();
    // Texts reach the controls through the ANSI code page (Korean only under
    // a Korean locale), so compare with what the code page makes of them.
    auto throughAnsi = [](const wchar_t* text) {
        char narrow[64] = {};
        wchar_t wide[64] = {};
        WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof(narrow), nullptr, nullptr);
        MultiByteToWideChar(CP_ACP, 0, narrow, -1, wide, 64);
        return std::wstring(wide);
    };
    wchar_t caption[64] = {};
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = caption;
    item.cchTextMax = 64;
    SendMessageW(GetDlgItem(Main(), IDC_MAIN_TAB), TCM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    EXPECT_EQ(throughAnsi(L"\xBC31\xC5C5"), std::wstring(caption));   // "Backup"
    wchar_t help[32] = {};
    GetWindowTextW(GetDlgItem(Main(), IDC_HELP_BUTTON), help, 32);
    EXPECT_EQ(throughAnsi(L"\xB3C4\xC6C0\xB9D0"), std::wstring(help));   // "Help"
    EXPECT_NE("Backup", WindowText(GetDlgItem(Page(0), IDC_BACKUP_RUN)));
}


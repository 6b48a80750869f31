// Start-up choices and bounded texts of the desktop program, without windows.
#include <gtest/gtest.h>

#include "BackupTab.h"
#include "EngineHost.h"
#include "EnginePlugIn.h"
#include "ORRegistryUtil.h"
#include "ResourceModule.h"
#include "RestoreTab.h"
#include "TestSupport.h"
#include "VelmoraApp.h"
#include "VelmoraDlg.h"
#include "resource.h"

using namespace testsupport;

// The Korean satellite's use by the window is a UI test.
TEST(StartUp, OnlyKorSelectsTheKoreanSatelliteFromHomeOrElseTheCurrentDirectory) {
    ScratchRegistry registry(true);
    ScratchFolder home, empty;
    for (const char* name : {"VLLocaleSatellite_ENU.dll", "VLLocaleSatellite_KOR.dll"})
        ASSERT_TRUE(CopyFileA((WinePath(VELMORA_HOME_DIR) + "\\" + name).c_str(), (home / name).c_str(), FALSE));
    char previous[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof(previous), previous);
    SetCurrentDirectoryA(home.Path().c_str());
    struct Case { const char* code; const ScratchFolder* home; const char* loaded; };
    for (const Case& c : {Case{"DEU", &home, "VLLocaleSatellite_ENU.dll"}, Case{"kor", &home, "VLLocaleSatellite_ENU.dll"},
                          Case{"KOR", nullptr, "VLLocaleSatellite_KOR.dll"}, Case{"KOR", &empty, nullptr}}) {
        SCOPED_TRACE(std::string(c.code) + (c.home ? " in " + c.home->Path() : " without home"));
        ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kProductKey, "UI Language", c.code));
        SHDeleteValueA(HKEY_LOCAL_MACHINE, kProductKey, "Velmora Home");
        if (c.home) ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kProductKey, "Velmora Home", c.home->Path()));
        EXPECT_EQ(c.loaded != nullptr, CVelmoraApp().LoadSatellite());
        char path[MAX_PATH] = {};
        GetModuleFileNameA(GetResourceModule(), path, sizeof(path));
        EXPECT_EQ(c.loaded ? home / c.loaded : std::string(), GetResourceModule() == GetProgramModule() ? "" : path);
        SetResourceModule(nullptr);
    }
    SetCurrentDirectoryA(previous);
}

TEST(StartUp, HelpLeadsToTheManualInTheHomeDirectory) {
    ScratchRegistry registry(true);
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kProductKey, "Velmora Home", WinePath(VELMORA_HOME_DIR)));
    EXPECT_EQ(WinePath(VELMORA_HOME_DIR) + "\\Help\\Velmora Help.html", CVelmoraDlg::HelpTarget());
    EXPECT_TRUE(FileExistsAt(CVelmoraDlg::HelpTarget()));
}

TEST(Texts, ArchiveNamesTheApplicationUpToItsLastDotWithoutIncomplete) {
    EXPECT_EQ("Outlook Express", CRestoreTab::ApplicationName("C:\\backups\\Outlook Express.vlb"));
    EXPECT_EQ("Outlook Express", CRestoreTab::ApplicationName("C:\\backups\\Outlook Express (incomplete).vlb"));
    EXPECT_EQ("Outlook", CRestoreTab::ApplicationName("Outlook (incomplete)"));
    // Only a trailing mark counts, and a name that is nothing but the mark stays.
    EXPECT_EQ("Outlook (incomplete) old", CRestoreTab::ApplicationName("C:\\Outlook (incomplete) old.vlb"));
    EXPECT_EQ(" (incomplete)", CRestoreTab::ApplicationName("C:\\ (incomplete).vlb"));
    EXPECT_EQ("my.archive", CRestoreTab::ApplicationName("C:\\dir.d\\my.archive.zip"));
    EXPECT_EQ("noextension", CRestoreTab::ApplicationName("C:\\dir.d\\noextension"));
}

// A long path or name, or many plug-ins, cut the text; nothing overflows.
TEST(Texts, MessagesAndTheBackupReportAreBounded) {
    std::string longName(3000, 'n');
    std::string text = FormatMessageText(LoadResString(IDS_RESTORE_INIT_FAILED).c_str(), longName.c_str(), "C:\\x.vlb");
    EXPECT_EQ(kMessageBytes - 1, text.size());
    EXPECT_EQ(0u, text.find("Failed to initialize nnn"));

    ScratchRegistry registry;
    ScratchFolder home;
    ASSERT_TRUE(MakeDirs(home / "EnginePlugins"));
    for (int i = 0; i < 70; ++i)
        ASSERT_TRUE(CopyFileA((WinePath(VELMORA_TEST_PLUGIN_DIR) + "\\TestPlugInAlpha.dll").c_str(),
                              (home / "EnginePlugins\\Alpha" + std::to_string(i) + ".dll").c_str(), FALSE));
    CEngineHost host(home.Path());
    ASSERT_EQ(70, host.GetPlugInCount());
    EXPECT_EQ(LoadResString(IDS_BACKUP_NOTE), CBackupTab::ComposeReport(host));
    for (int i = 0; i < 70; ++i) host.GetPlugIn(i)->Enable();
    std::string report = CBackupTab::ComposeReport(host);
    EXPECT_EQ(CBackupTab::kReportBytes - 1, report.size());
    EXPECT_EQ(0u, report.find("-------------------- Alpha --------------------\nSystem information of Alpha"));
}

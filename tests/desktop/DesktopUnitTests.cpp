// Start-up choices, texts and small rules of the desktop program, without
// windows.
#include <windows.h>

#include <gtest/gtest.h>

#include "BackupTab.h"
#include "EngineHost.h"
#include "EnginePlugIn.h"
#include "ORRegistryUtil.h"
#include "PlugInPage.h"
#include "ResourceModule.h"
#include "RestoreTab.h"
#include "TestSupport.h"
#include "VelmoraApp.h"
#include "VelmoraDlg.h"
#include "resource.h"

using namespace testsupport;

namespace {
struct StartUp : ::testing::Test {
    ScratchRegistry registry{true};
    ScratchFolder home;
    CVelmoraApp app;
    char previousDirectory[MAX_PATH] = {};

    void SetUp() override { GetCurrentDirectoryA(sizeof(previousDirectory), previousDirectory); }
    void TearDown() override {
        SetResourceModule(nullptr);
        SetCurrentDirectoryA(previousDirectory);
    }
    void CopySatellites(const std::string& folder) {
        for (const char* name : {"VLLocaleSatellite_ENU.dll", "VLLocaleSatellite_KOR.dll"})
            ASSERT_TRUE(CopyFileA((WinePath(VELMORA_HOME_DIR) + "\\" + name).c_str(), (folder + "\\" + name).c_str(),
                                  FALSE));
    }
    static std::string ResourceModuleName() {
        char path[MAX_PATH] = {};
        GetModuleFileNameA(GetResourceModule(), path, sizeof(path));
        std::string name = path;
        return name.substr(name.find_last_of('\\') + 1);
    }
    static std::wstring WideString(UINT id) {
        wchar_t text[256] = {};
        LoadStringW(GetResourceModule(), id, text, 256);
        return text;
    }
};
}  // namespace

TEST(SatelliteName, OnlyExactlyKorSelectsKorean) {
    EXPECT_STREQ("VLLocaleSatellite_KOR.dll", CVelmoraApp::SatelliteFileName("KOR"));
    for (const char* code : {"ENU", "DEU", "kor", "KO", ""})
        EXPECT_STREQ("VLLocaleSatellite_ENU.dll", CVelmoraApp::SatelliteFileName(code)) << code;
}

TEST_F(StartUp, UiLanguageKorLoadsTheKoreanSatelliteFromHome) {
    CopySatellites(home.Path());
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kProductKey, "Velmora Home", home.Path()));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kProductKey, "UI Language", "KOR"));
    ASSERT_TRUE(app.LoadSatellite());
    EXPECT_EQ("VLLocaleSatellite_KOR.dll", ResourceModuleName());
    EXPECT_EQ(L"\xBC31\xC5C5", WideString(IDS_BACKUP_TAB));
    EXPECT_EQ(L"\xBCF5\xC6D0", WideString(IDS_RESTORE_TAB));
}

TEST_F(StartUp, OtherLanguageCodesLoadTheEnglishSatellite) {
    CopySatellites(home.Path());
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kProductKey, "Velmora Home", home.Path()));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kProductKey, "UI Language", "DEU"));
    EXPECT_EQ("DEU", CVelmoraApp::ChooseLanguageCode());
    ASSERT_TRUE(app.LoadSatellite());
    EXPECT_EQ("VLLocaleSatellite_ENU.dll", ResourceModuleName());
    EXPECT_EQ("Backup", LoadResString(IDS_BACKUP_TAB));
}

TEST_F(StartUp, WithoutHomeTheSatelliteIsLookedForInTheCurrentDirectory) {
    CopySatellites(home.Path());
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kProductKey, "UI Language", "KOR"));
    ASSERT_TRUE(SetCurrentDirectoryA(home.Path().c_str()));
    EXPECT_EQ(home.Path() + "\\", CVelmoraApp::SatelliteDirectory());
    ASSERT_TRUE(app.LoadSatellite());
    EXPECT_EQ("VLLocaleSatellite_KOR.dll", ResourceModuleName());
}

TEST_F(StartUp, MissingSatelliteKeepsTheProgramsOwnEnglishResources) {
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kProductKey, "Velmora Home", home.Path()));
    EXPECT_FALSE(app.LoadSatellite());
    EXPECT_EQ(GetProgramModule(), GetResourceModule());
    EXPECT_EQ("Backup", LoadResString(IDS_BACKUP_TAB));
    EXPECT_EQ("Failed to initialize %s for restoration with %s", LoadResString(IDS_RESTORE_INIT_FAILED));
    EXPECT_EQ("", LoadResString(9999));
    // The progress dialog that plug-ins without a satellite fall back to.
    EXPECT_NE(nullptr, FindResourceA(GetProgramModule(), MAKEINTRESOURCEA(IDD_PROGRESS), MAKEINTRESOURCEA(5)));
}

TEST_F(StartUp, HelpLeadsToTheManualInTheHomeDirectory) {
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kProductKey, "Velmora Home", WinePath(VELMORA_HOME_DIR)));
    std::string target = CVelmoraDlg::HelpTarget();
    EXPECT_EQ(WinePath(VELMORA_HOME_DIR) + "\\Help\\Velmora Help.html", target);
    std::string manual;
    ASSERT_TRUE(ReadFileBytes(target, manual)) << target;
    for (const char* topic : {"Back up", "Restore", "Velmora.log", "Please select backup folder", "Please select media folder",
                              "Failed to initialize"})
        EXPECT_NE(std::string::npos, manual.find(topic)) << topic;
}

TEST(Texts, FormattedMessagesAreBounded) {
    std::string longName(3000, 'n');
    std::string text = FormatMessageText("Failed to initialize %s for restoration with %s", longName.c_str(),
                                         "C:\\x.vlb");
    EXPECT_EQ(kMessageBytes - 1, text.size());
    EXPECT_EQ(0u, text.find("Failed to initialize nnn"));
    EXPECT_EQ("Failed to initialize A for restoration with B",
              FormatMessageText("Failed to initialize %s for restoration with %s", "A", "B"));
}

TEST(Texts, ApplicationNameIsTheFileNameUpToItsLastDot) {
    EXPECT_EQ("Outlook Express", CRestoreTab::ApplicationName("C:\\backups\\Outlook Express.vlb"));
    EXPECT_EQ("Outlook", CRestoreTab::ApplicationName("D:\\a.b\\Outlook.vlb"));
    EXPECT_EQ("my.archive", CRestoreTab::ApplicationName("C:\\my.archive.zip"));
    EXPECT_EQ("noextension", CRestoreTab::ApplicationName("C:\\dir.d\\noextension"));
}

TEST(Texts, CheckValueIsTheStateImageLessOne) {
    EXPECT_EQ(0, CPlugInPage::CheckValue(0));
    EXPECT_EQ(0, CPlugInPage::CheckValue(INDEXTOSTATEIMAGEMASK(1) | LVIS_SELECTED));
    EXPECT_EQ(1, CPlugInPage::CheckValue(INDEXTOSTATEIMAGEMASK(2)));
    EXPECT_EQ(0, CPlugInPage::CheckValue(LVIS_FOCUSED | LVIS_SELECTED));
}

namespace {
struct Report : ::testing::Test {
    ScratchRegistry registry;
    ScratchFolder home;
    void SetUp() override {
        ASSERT_TRUE(MakeDirs(home / "EnginePlugins"));
        for (const char* name : {"TestPlugInAlpha", "TestPlugInBeta"})
            ASSERT_TRUE(CopyFileA((WinePath(VELMORA_TEST_PLUGIN_DIR) + "\\" + name + ".dll").c_str(),
                                  (home / "EnginePlugins\\" + name + ".dll").c_str(), FALSE));
    }
};
}  // namespace

TEST_F(Report, HoldsOneBlockPerEnabledPlugInThenTheNote) {
    CEngineHost host(home.Path());
    ASSERT_EQ(2, host.GetPlugInCount());
    std::string note = LoadResString(IDS_BACKUP_NOTE);
    ASSERT_FALSE(note.empty());
    EXPECT_EQ(note, CBackupTab::ComposeReport(host));
    host.GetPlugIn(1)->Enable();
    EXPECT_EQ("-------------------- Beta --------------------\n"
              "System information of Beta padded well past the small-string buffer\n\n" + note,
              CBackupTab::ComposeReport(host));
    host.GetPlugIn(1)->Disable();
}

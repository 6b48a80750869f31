#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "PlugInFixture.h"
#include "StandIns.h"
#include "TestSupport.h"

using namespace testsupport;
using namespace plugintest;

namespace {
int Count(const std::string& text, const std::string& part) {
    int count = 0;
    for (size_t pos = text.find(part); pos != std::string::npos; pos = text.find(part, pos + 1)) ++count;
    return count;
}

std::string CurrentUser() {
    char user[512] = {};
    DWORD size = sizeof(user);
    GetUserNameA(user, &size);
    return user;
}

// Program files installed for one test and removed whatever happens.
struct StandInScope {
    StandInScope() { RemoveStandIns(); }
    ~StandInScope() { EXPECT_TRUE(RemoveStandIns()); }
};
}  // namespace

TEST_F(PlugInFixture, EnglishByDefaultWithTheLocaleLogged) {
    Start("Wrenfold");
    EXPECT_TRUE(SatelliteLoaded("VLOEPluginLocaleSatellite_ENU.dll"));
    EXPECT_FALSE(SatelliteLoaded("VLOEPluginLocaleSatellite_KOR.dll"));
    EXPECT_NE(std::string::npos, NewLog().find("GetUserDefaultLCID = ENU")) << NewLog();
    EXPECT_EQ(std::string::npos, NewLog().find("Unsupported UI Language")) << NewLog();
}

TEST_F(PlugInFixture, UILanguageKORSelectsTheKoreanSatellite) {
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kProductKey, "UI Language", "KOR"));
    Start("Wrenmark");
    EXPECT_TRUE(SatelliteLoaded("VLOTPluginLocaleSatellite_KOR.dll"));
    EXPECT_FALSE(SatelliteLoaded("VLOTPluginLocaleSatellite_ENU.dll"));
    // The display name is the product name in every language.
    EXPECT_EQ("Outlook", GetName());
}

TEST_F(PlugInFixture, LowerCaseKorIsUnsupportedAndFallsBackToEnglish) {
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kProductKey, "UI Language", "kor"));
    Start("Wrenfold");
    EXPECT_TRUE(SatelliteLoaded("VLOEPluginLocaleSatellite_ENU.dll"));
    EXPECT_FALSE(SatelliteLoaded("VLOEPluginLocaleSatellite_KOR.dll"));
    EXPECT_NE(std::string::npos, NewLog().find("Unsupported UI Language kor. Default to ENU.")) << NewLog();
}

TEST_F(PlugInFixture, WithoutSatelliteWrenmarkHasNoNameAndSaysWhichStringIsMissing) {
    ASSERT_TRUE(DeleteFileA((home / "VLOTPluginLocaleSatellite_ENU.dll").c_str()));
    Start("Wrenmark");
    EXPECT_EQ("", GetName());
    std::string log = NewLog();
    EXPECT_NE(std::string::npos,
              log.find("Failed to load resource DLL " + home.Path() + "\\VLOTPluginLocaleSatellite_ENU.dll."))
        << log;
    EXPECT_NE(std::string::npos, log.find("The string resource 1000 does not exist.")) << log;
}

TEST_F(PlugInFixture, WithoutSatelliteWrenfoldKeepsItsFixedName) {
    ASSERT_TRUE(DeleteFileA((home / "VLOEPluginLocaleSatellite_ENU.dll").c_str()));
    Start("Wrenfold");
    EXPECT_EQ("Outlook Express", GetName());
    EXPECT_NE(std::string::npos, NewLog().find("The string resource does not exist.")) << NewLog();
}

TEST_F(PlugInFixture, OverlongHomeValueFallsBackToTheCurrentDirectory) {
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kProductKey, "Velmora Home", "C:\\" + std::string(297, 'h')));
    char previous[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof(previous), previous);
    ASSERT_TRUE(SetCurrentDirectoryA(home.Path().c_str()));
    Start("Wrenmark");
    SetCurrentDirectoryA(previous);
    EXPECT_TRUE(SatelliteLoaded("VLOTPluginLocaleSatellite_ENU.dll"));
    EXPECT_EQ("Outlook", GetName());
    EXPECT_NE(std::string::npos,
              NewLog().find("Failed to read the Velmora home directory from registry. Use the current directory instead."))
        << NewLog();
}

TEST_F(PlugInFixture, HomeValueOf259CharactersIsTakenAsIs) {
    std::string value = "C:\\" + std::string(256, 'h');
    ASSERT_EQ(259u, value.size());
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kProductKey, "Velmora Home", value));
    char previous[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof(previous), previous);
    ASSERT_TRUE(SetCurrentDirectoryA(home.Path().c_str()));
    Start("Wrenmark");
    SetCurrentDirectoryA(previous);
    // Nothing can load from there, and the current directory is not tried.
    EXPECT_FALSE(SatelliteLoaded("VLOTPluginLocaleSatellite_ENU.dll"));
    std::string log = NewLog();
    EXPECT_EQ(std::string::npos, log.find("Failed to read the Velmora home directory")) << log;
    EXPECT_NE(std::string::npos, log.find("Failed to load resource DLL " + value + "\\VLOT")) << log;
}

TEST_F(PlugInFixture, WrenfoldSysInfoReadsTheOutlookExpressProgram) {
    StandInScope standIns;
    ASSERT_TRUE(InstallStandIns());
    Start("Wrenfold");
    EXPECT_EQ("OS_Version: 2.5.1\nApp_Version: 6.0.2900.5512\nUser_Name: " + CurrentUser() + "\n", GetSysInfo());
    EXPECT_FALSE(CurrentUser().empty());
}

TEST_F(PlugInFixture, WrenfoldSysInfoOfAnOlderOutlookExpress) {
    StandInScope standIns;
    ASSERT_TRUE(InstallStandIn(kStandInMsimnOld, kOutlookExpressProgram));
    Start("Wrenfold");
    EXPECT_NE(std::string::npos, GetSysInfo().find("\nApp_Version: 5.50.4807.1700\n")) << GetSysInfo();
}

TEST_F(PlugInFixture, WrenfoldWithoutOutlookExpressHasAnEmptyVersion) {
    StandInScope standIns;
    ASSERT_TRUE(InstallStandIn(kStandInMsimn, "C:\\Program Files\\Outlook Express\\other.exe"));
    Start("Wrenfold");
    DeleteFileA("C:\\Program Files\\Outlook Express\\other.exe");
    EXPECT_NE(std::string::npos, GetSysInfo().find("\nApp_Version: \nUser_Name: ")) << GetSysInfo();
    EXPECT_EQ(1, Count(NewLog(), "GetFileVersionInfoSize call failed with error 2.")) << NewLog();
}

TEST_F(PlugInFixture, WrenmarkFindsOutlookUnderOffice11Only) {
    StandInScope standIns;
    ASSERT_TRUE(InstallStandIn(kStandInOutlook, kOutlookProgram));
    Start("Wrenmark");
    EXPECT_EQ("OS_Version: 2.5.1\nApp_Version: 11.0.8217.0\nUser_Name: " + CurrentUser() + "\n", GetSysInfo());
    // The two earlier folders were tried and logged; the search did not give up.
    EXPECT_EQ(2, Count(NewLog(), "GetFileVersionInfoSize call failed with error ")) << NewLog();
    EXPECT_EQ(std::string::npos, NewLog().find("Failed to find Outlook.exe file.")) << NewLog();
}

TEST_F(PlugInFixture, WrenmarkTakesTheFirstOutlookFound) {
    StandInScope standIns;
    ASSERT_TRUE(InstallStandIn(kStandInOutlook, kOutlookProgram));
    ASSERT_TRUE(InstallStandIn(kStandInMsimnOld, std::string(kOutlookProgramFolders[1]) + "\\OUTLOOK.EXE"));
    Start("Wrenmark");
    EXPECT_NE(std::string::npos, GetSysInfo().find("\nApp_Version: 5.50.4807.1700\n")) << GetSysInfo();
}

TEST_F(PlugInFixture, WrenmarkWithoutOutlookSaysSo) {
    StandInScope standIns;
    ASSERT_TRUE(InstallStandIn(kStandInMsimn, kOutlookExpressProgram));   // not Outlook
    Start("Wrenmark");
    EXPECT_NE(std::string::npos, GetSysInfo().find("\nApp_Version: \n")) << GetSysInfo();
    EXPECT_NE(std::string::npos, NewLog().find("Failed to find Outlook.exe file.")) << NewLog();
}

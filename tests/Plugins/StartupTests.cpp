// Start-up of the real plug-ins, and what their satellite libraries hold.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "PlugInFixture.h"
#include "StandIns.h"

using namespace testsupport;
using namespace plugintest;

TEST_F(PlugInFixture, UILanguageChoosesTheSatelliteAndAnythingElseFallsBackToEnglish) {
    const struct { const char* language; const char* plugIn; const char* satellite; const char* logged; } cases[] = {
        {nullptr, "Wrenfold", "VLOEPluginLocaleSatellite_ENU.dll", "GetUserDefaultLCID = ENU"},
        {"KOR", "Wrenmark", "VLOTPluginLocaleSatellite_KOR.dll", "GetUserDefaultLCID = ENU"},
        {"kor", "Wrenfold", "VLOEPluginLocaleSatellite_ENU.dll", "Unsupported UI Language kor. Default to ENU."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.language ? c.language : "no UI Language");
        if (c.language) ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kProductKey, "UI Language", c.language));
        Start(c.plugIn);
        EXPECT_EQ(c.satellite, LoadedSatellite());
        EXPECT_EQ(c.plugIn[4] == 'f' ? "Outlook Express" : "Outlook", Text("GetName"));   // string 1000 in Korean too
        EXPECT_TRUE(Logged(c.logged));
        EXPECT_EQ(std::string(c.logged).find("Unsupported") == 0, bool(Logged("Unsupported")));
        Stop();
    }
}

TEST_F(PlugInFixture, WithoutItsSatelliteWrenmarkHasNoName) {
    ASSERT_TRUE(DeleteFileA((home / "VLOTPluginLocaleSatellite_ENU.dll").c_str()));
    Start("Wrenmark");
    EXPECT_EQ("", Text("GetName"));
    EXPECT_TRUE(Logged("Failed to load resource DLL " + home.Path() + "\\VLOTPluginLocaleSatellite_ENU.dll."));
    EXPECT_TRUE(Logged("The string resource 1000 does not exist."));
}

// A home value of 259 characters fits its MAX_PATH buffer; a longer one is refused.
TEST_F(PlugInFixture, OverlongHomeValueFallsBackToTheCurrentDirectory) {
    char previous[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof(previous), previous);
    ASSERT_TRUE(SetCurrentDirectoryA(home.Path().c_str()));
    for (size_t length : {259u, 300u}) {
        SCOPED_TRACE(length);
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kProductKey, "Velmora Home", "C:\\" + std::string(length - 3, 'h')));
        Start("Wrenmark");
        EXPECT_EQ(length > 259, bool(Logged("Failed to read the Velmora home directory from registry.")));
        EXPECT_EQ(length > 259 ? "VLOTPluginLocaleSatellite_ENU.dll" : "", LoadedSatellite());
        Stop();
    }
    SetCurrentDirectoryA(previous);
}

// Wrenmark tries the three Office folders in order and takes the first program found.
TEST_F(PlugInFixture, SysInfoReadsTheMailClientsProgramVersion) {
    char user[512] = {};
    DWORD size = sizeof(user);
    ASSERT_TRUE(GetUserNameA(user, &size));
    struct Scope { Scope() { RemoveStandIns(); } ~Scope() { EXPECT_TRUE(RemoveStandIns()); } } standIns;
    ASSERT_TRUE(InstallStandIns());   // Outlook under the last folder
    ASSERT_TRUE(InstallStandIn(kStandInMsimnOld, std::string(kOutlookProgramFolders[1]) + "\\OUTLOOK.EXE"));
    Start("Wrenfold");
    EXPECT_EQ("OS_Version: 2.5.1\nApp_Version: 6.0.2900.5512\nUser_Name: " + std::string(user) + "\n", Text("GetSysInfo"));
    Stop();
    Start("Wrenmark");
    EXPECT_NE(std::string::npos, Text("GetSysInfo").find("\nApp_Version: 5.50.4807.1700\n"));
    Stop();
    ASSERT_TRUE(RemoveStandIns());
    Start("Wrenmark");
    EXPECT_NE(std::string::npos, Text("GetSysInfo").find("\nApp_Version: \n"));
    EXPECT_TRUE(Logged("Failed to find Outlook.exe file."));
}

// The mail clients are found where the system says they are: Outlook through
// its "App Paths" entry (installed outside the usual folder, the entry quoted
// as installers write it), Outlook Express under the program-files folder the
// system reports (as "Program Files (x86)" on 64-bit Windows or a localised
// name on XP), before the usual "C:\Program Files\..." paths.
TEST_F(PlugInFixture, SysInfoFindsTheProgramsWhereTheSystemSaysTheyAre) {
    struct Scope { Scope() { RemoveStandIns(); } ~Scope() { EXPECT_TRUE(RemoveStandIns()); } } standIns;
    ScratchFolder elsewhere;
    const std::string outlook = elsewhere / "Office 2003\\OFFICE11\\OUTLOOK.EXE";
    ASSERT_TRUE(InstallStandIn(kStandInOutlook, outlook));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\OUTLOOK.EXE", "",
                          "\"" + outlook + "\""));
    const std::string programFiles = elsewhere / "Programme (x86)";
    ASSERT_TRUE(InstallStandIn(kStandInMsimnOld, programFiles + "\\Outlook Express\\msimn.exe"));
    ASSERT_TRUE(InstallStandIn(kStandInMsimn, kOutlookExpressProgram));   // the usual place comes last
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir",
                          programFiles));
    char reported[MAX_PATH] = {};
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, reported, CSIDL_PROGRAM_FILES, FALSE));
    ASSERT_EQ(programFiles, reported) << "the system does not report the scratch program-files folder";

    Start("Wrenmark");
    EXPECT_NE(std::string::npos, Text("GetSysInfo").find("\nApp_Version: 11.0.8217.0\n")) << Text("GetSysInfo");
    EXPECT_FALSE(Logged("Failed to find Outlook.exe file."));
    Stop();
    Start("Wrenfold");
    EXPECT_NE(std::string::npos, Text("GetSysInfo").find("\nApp_Version: 5.50.4807.1700\n")) << Text("GetSysInfo");
    Stop();
}

// Every string the plug-ins load exists in both languages, translated except
// the product name (string 1000); each library holds the progress dialog.
TEST(Satellites, HoldEveryStringTranslatedButTheProductName) {
    auto text = [](HMODULE module, UINT id) {   // the string in place in the resource
        const wchar_t* s = nullptr;
        return std::wstring(s, std::max(0, LoadStringW(module, id, reinterpret_cast<LPWSTR>(&s), 0)));
    };
    for (int i = 0; i < 4; i += 2) {
        SCOPED_TRACE(kHomeFiles[i]);
        HMODULE english = LoadLibraryA((BuiltHome() + "\\" + kHomeFiles[i]).c_str());
        HMODULE korean = LoadLibraryA((BuiltHome() + "\\" + kHomeFiles[i + 1]).c_str());
        ASSERT_TRUE(english && korean);
        const std::wstring client = i == 0 ? L"Outlook Express" : L"Outlook";
        EXPECT_TRUE(text(english, 1000) == client && text(korean, 1000) == client);
        EXPECT_TRUE(text(korean, 3000) == client + L" 복원 중...");
        for (UINT id : {2000, 2001, 2002, 2003, 2004, 3000, 3001, 3002, 3003, 3004, 4000, 4001, 4002, 4003, 4004})
            EXPECT_TRUE(!text(english, id).empty() && text(english, id) != text(korean, id)) << id;
        for (HMODULE module : {english, korean}) {
            EXPECT_NE(std::wstring::npos, text(module, 4000).find(L"%s"));   // the stored user name
            EXPECT_TRUE(FindResourceA(module, MAKEINTRESOURCEA(145), MAKEINTRESOURCEA(5) /* RT_DIALOG */));
            FreeLibrary(module);
        }
    }
}

// Runs with a Korean user locale (LC_ALL=ko_KR.UTF-8, set by CTest).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "PlugInFixture.h"
#include "TestSupport.h"

using namespace testsupport;
using namespace plugintest;

TEST_F(PlugInFixture, KoreanLocalePicksTheKoreanSatellite) {
    Start("Wrenfold");
    EXPECT_TRUE(SatelliteLoaded("VLOEPluginLocaleSatellite_KOR.dll"));
    EXPECT_FALSE(SatelliteLoaded("VLOEPluginLocaleSatellite_ENU.dll"));
    EXPECT_NE(std::string::npos, NewLog().find("GetUserDefaultLCID = KOR")) << NewLog();
    EXPECT_EQ("Outlook Express", GetName());

    // The plug-in reads its texts in the Korean ANSI code page.
    ASSERT_EQ(949u, GetACP());
    HMODULE satellite = GetModuleHandleA((home / "VLOEPluginLocaleSatellite_KOR.dll").c_str());
    char text[256] = {};
    ASSERT_GT(LoadStringA(satellite, 3000, text, sizeof(text)), 0);
    char expected[256] = {};
    WideCharToMultiByte(CP_ACP, 0, L"Outlook Express 복원 중...", -1, expected, sizeof(expected), nullptr, nullptr);
    EXPECT_STREQ(expected, text);
}

TEST_F(PlugInFixture, UILanguageENUOverridesAKoreanLocale) {
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kProductKey, "UI Language", "ENU"));
    Start("Wrenmark");
    EXPECT_TRUE(SatelliteLoaded("VLOTPluginLocaleSatellite_ENU.dll"));
    EXPECT_FALSE(SatelliteLoaded("VLOTPluginLocaleSatellite_KOR.dll"));
    EXPECT_NE(std::string::npos, NewLog().find("GetUserDefaultLCID = KOR")) << NewLog();
}

// Runs with a Korean user locale (LC_ALL=ko_KR.UTF-8, set by CTest).
#include <windows.h>

#include <gtest/gtest.h>

#include "PlugInFixture.h"

using namespace plugintest;

TEST_F(PlugInFixture, KoreanLocalePicksTheKoreanSatelliteUnlessUILanguageSaysENU) {
    ASSERT_EQ(949u, GetACP());
    Start("Wrenmark");
    EXPECT_EQ("VLOTPluginLocaleSatellite_KOR.dll", LoadedSatellite());
    EXPECT_TRUE(Logged("GetUserDefaultLCID = KOR"));
    EXPECT_EQ("Outlook", Text("GetName"));   // string 1000, read in the Korean code page
    Stop();
    ASSERT_TRUE(testsupport::SetString(HKEY_CURRENT_USER, kProductKey, "UI Language", "ENU"));
    Start("Wrenmark");
    EXPECT_EQ("VLOTPluginLocaleSatellite_ENU.dll", LoadedSatellite());
}

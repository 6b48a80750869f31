// Runs a real engine plug-in (Wrenfold.dll or Wrenmark.dll) from a private
// copy of the home directory, with "Velmora Home" pointing there in a scratch
// registry that overrides HKEY_LOCAL_MACHINE too. Start-up state of a plug-in
// lives for the process, so every test loads its own copy and unloads it (and
// the satellite it loaded) afterwards.
#pragma once
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>

#include "PlugInContract.h"
#include "TestSupport.h"

namespace plugintest {

const char* const kProductKey = "Software\\Orridge\\Velmora";
const char* const kSatellites[] = {"VLOEPluginLocaleSatellite_ENU.dll", "VLOEPluginLocaleSatellite_KOR.dll",
                                   "VLOTPluginLocaleSatellite_ENU.dll", "VLOTPluginLocaleSatellite_KOR.dll"};

inline std::string BuiltHome() { return testsupport::WinePath(VELMORA_HOME_DIR); }

struct PlugInFixture : ::testing::Test {
    testsupport::ScratchRegistry registry{true};
    testsupport::ScratchFolder home;
    HMODULE module = nullptr;
    bool started = false;
    std::string plugInName;
    size_t logStart = 0;

    void SetUp() override {
        for (const char* satellite : kSatellites)
            ASSERT_TRUE(CopyFileA((BuiltHome() + "\\" + satellite).c_str(), (home / satellite).c_str(), FALSE))
                << satellite;
        ASSERT_TRUE(testsupport::MakeDirs(home / "EnginePlugins"));
        for (const char* plugIn : {"Wrenfold.dll", "Wrenmark.dll"})
            ASSERT_TRUE(CopyFileA((BuiltHome() + "\\EnginePlugins\\" + plugIn).c_str(),
                                  (home / "EnginePlugins\\" + plugIn).c_str(), FALSE));
        ASSERT_TRUE(testsupport::SetString(HKEY_LOCAL_MACHINE, kProductKey, "Velmora Home", home.Path()));
        ASSERT_TRUE(testsupport::SetDword(HKEY_CURRENT_USER, kProductKey, "LogLevel", 3));
    }

    void TearDown() override {
        if (started) Call<PFN_DestroyPlugIn>("DestroyPlugIn")();
        if (module) FreeLibrary(module);
        // The plug-in never unloads its satellite; release this test's copy.
        for (const char* satellite : kSatellites)
            while (HMODULE loaded = GetModuleHandleA((home / satellite).c_str())) FreeLibrary(loaded);
    }

    template <typename Fn>
    Fn Call(const char* name) {
        Fn function = reinterpret_cast<Fn>(GetProcAddress(module, name));
        EXPECT_NE(nullptr, function) << name;
        return function;
    }

    std::string LogPath() const {
        char appData[MAX_PATH] = {};
        SHGetSpecialFolderPathA(nullptr, appData, CSIDL_APPDATA, TRUE);
        return std::string(appData) + "\\Velmora\\" + plugInName + ".log";
    }

    // Loads "Wrenfold" or "Wrenmark" from the copy and calls InitPlugIn.
    void Start(const std::string& name) {
        plugInName = name;
        std::string log;
        logStart = testsupport::ReadFileBytes(LogPath(), log) ? log.size() : 0;
        module = LoadLibraryA((home / "EnginePlugins\\" + name + ".dll").c_str());
        ASSERT_NE(nullptr, module) << GetLastError();
        ASSERT_EQ(1, Call<PFN_InitPlugIn>("InitPlugIn")());
        started = true;
    }

    // What the plug-in logged since Start.
    std::string NewLog() const {
        std::string log;
        testsupport::ReadFileBytes(LogPath(), log);
        return log.size() >= logStart ? log.substr(logStart) : log;
    }

    bool SatelliteLoaded(const char* satellite) { return GetModuleHandleA((home / satellite).c_str()) != nullptr; }

    std::string GetName() {
        std::string name = "previous";
        EXPECT_EQ(1, Call<PFN_GetName>("GetName")(&name));
        return name;
    }
    std::string GetSysInfo() {
        std::string text = "previous content";
        EXPECT_EQ(1, Call<PFN_GetSysInfo>("GetSysInfo")(&text));
        return text;
    }
};

}  // namespace plugintest

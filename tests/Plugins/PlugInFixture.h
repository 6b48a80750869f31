// Real plug-ins run from a private home copy named in a scratch registry; as start-up
// state lives for the process, Start loads a copy and Stop unloads it and its satellite.
#pragma once
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>

#include "PlugInContract.h"
#include "TestSupport.h"

namespace plugintest {

const char* const kProductKey = "Software\\Orridge\\Velmora";
// The four satellites, then the two plug-ins.
const char* const kHomeFiles[] = {"VLOEPluginLocaleSatellite_ENU.dll", "VLOEPluginLocaleSatellite_KOR.dll",
                                  "VLOTPluginLocaleSatellite_ENU.dll", "VLOTPluginLocaleSatellite_KOR.dll",
                                  "EnginePlugins\\Wrenfold.dll", "EnginePlugins\\Wrenmark.dll"};

inline std::string BuiltHome() { return testsupport::WinePath(VELMORA_HOME_DIR); }

struct PlugInFixture : ::testing::Test {
    testsupport::ScratchRegistry registry{true};
    testsupport::ScratchFolder home;
    HMODULE module = nullptr;
    std::string logPath;

    void SetUp() override {
        ASSERT_TRUE(testsupport::MakeDirs(home / "EnginePlugins"));
        for (std::string file : kHomeFiles)
            ASSERT_TRUE(CopyFileA((BuiltHome() + "\\" + file).c_str(), (home / file).c_str(), FALSE)) << file;
        ASSERT_TRUE(testsupport::SetString(HKEY_LOCAL_MACHINE, kProductKey, "Velmora Home", home.Path()));
        ASSERT_TRUE(testsupport::SetDword(HKEY_CURRENT_USER, kProductKey, "LogLevel", 3));
    }
    void TearDown() override { Stop(); }

    // Loads "Wrenfold" or "Wrenmark" from the copy, with a fresh log, and calls InitPlugIn.
    void Start(const std::string& name) {
        char appData[MAX_PATH] = {};
        SHGetSpecialFolderPathA(nullptr, appData, CSIDL_APPDATA, TRUE);
        DeleteFileA((logPath = std::string(appData) + "\\Velmora\\" + name + ".log").c_str());
        module = LoadLibraryA((home / "EnginePlugins\\" + name + ".dll").c_str());
        ASSERT_NE(nullptr, module) << GetLastError();
        ASSERT_EQ(1, reinterpret_cast<PFN_InitPlugIn>(GetProcAddress(module, "InitPlugIn"))());
    }
    void Stop() {
        if (module) reinterpret_cast<PFN_DestroyPlugIn>(GetProcAddress(module, "DestroyPlugIn"))();
        if (module) FreeLibrary(module);
        module = nullptr;
        // The plug-in never unloads its satellite; release this test's copy.
        for (int i = 0; i < 4; ++i)
            while (HMODULE loaded = GetModuleHandleA((home / kHomeFiles[i]).c_str())) FreeLibrary(loaded);
    }
    std::string Text(const char* name) {
        std::string text = "previous content";
        EXPECT_EQ(1, reinterpret_cast<PFN_GetName>(GetProcAddress(module, name))(&text)) << name;
        return text;
    }
    // Whether the plug-in logged the text since Start; the log as message.
    ::testing::AssertionResult Logged(const std::string& text) const {
        std::string log;
        testsupport::ReadFileBytes(logPath, log);
        return (log.find(text) != std::string::npos ? ::testing::AssertionSuccess() : ::testing::AssertionFailure()) << log;
    }
    std::string LoadedSatellite() {
        for (int i = 0; i < 4; ++i)
            if (GetModuleHandleA((home / kHomeFiles[i]).c_str())) return kHomeFiles[i];
        return "";
    }
};

}  // namespace plugintest

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineHost.h"
#include "EnginePlugIn.h"
#include "TestSupport.h"

using namespace testsupport;
typedef std::vector<std::string> Lines;

namespace {
// Test plug-ins record their calls, one "Name:Export(argument)" a line, and
// answer with VELMORA_TEST_<Name>_<Export> where that is set.
struct HostFixture : ::testing::Test {
    ScratchRegistry registry;
    ScratchFolder home;
    std::string calls = home / "calls.txt";

    void SetUp() override {
        ASSERT_TRUE(MakeDirs(home / "EnginePlugins"));
        Set("CALLS", calls.c_str());
    }
    void TearDown() override {
        for (const char* name : {"CALLS", "Alpha_InitBackup", "Alpha_Backup", "Beta_Restore"}) Set(name, nullptr);
    }
    static void Set(const std::string& name, const char* value) { SetEnvironmentVariableA(("VELMORA_TEST_" + name).c_str(), value); }
    void AddTestPlugIn(const char* target, const std::string& asName) {
        std::string source = WinePath(VELMORA_TEST_PLUGIN_DIR) + "\\" + target + ".dll";
        ASSERT_TRUE(CopyFileA(source.c_str(), (home / "EnginePlugins\\" + asName).c_str(), FALSE)) << source;
    }
    Lines CallsOf(const std::string& exportName) {
        Lines found;
        for (const std::string& line : ReadLines(calls))
            if (line.compare(line.find(':') + 1, exportName.size(), exportName) == 0) found.push_back(line);
        return found;
    }
    void Clear() { DeleteFileA(calls.c_str()); }
    static Lines Names(CEngineHost& host) {
        Lines names;
        for (int i = 0; i < host.GetPlugInCount(); ++i) names.push_back(host.GetPlugIn(i)->GetName());
        return names;
    }
};
}  // namespace

TEST_F(HostFixture, ScanTakesCompleteDllsOnlySortedByNameAndReleasesThemInOrder) {
    AddTestPlugIn("TestPlugInAlpha", "ZZZ.DLL");              // upper case is taken
    AddTestPlugIn("TestPlugInBeta", "aaa.dll");
    AddTestPlugIn("TestPlugInBeta", "beta.dll.old");          // not a .dll
    AddTestPlugIn("TestPlugInBeta", ".dll");                  // name too short
    AddTestPlugIn("TestPlugInIncomplete", "incomplete.dll");  // lacks GetSysInfo
    ASSERT_TRUE(WriteFileBytes(home / "EnginePlugins\\broken.dll", "MZ but not really a library"));
    ASSERT_TRUE(MakeDirs(home / "EnginePlugins\\folder.dll"));
    AddTestPlugIn("TestPlugInBeta", "folder.dll\\nested.dll");   // no recursion
    {
        CEngineHost host(home.Path());
        EXPECT_EQ((Lines{"Alpha", "Beta"}), Names(host));
        EXPECT_EQ(2u, CallsOf("InitPlugIn").size()) << "the incomplete library was never started";
        Clear();
    }
    EXPECT_EQ((Lines{"Alpha:DestroyPlugIn", "Beta:DestroyPlugIn"}), ReadLines(calls));

    ScratchFolder empty;   // no EnginePlugins folder at all
    CEngineHost none(empty.Path());
    EXPECT_EQ(0, none.GetPlugInCount());
    EXPECT_EQ(1, none.Backup("C:\\x"));
    EXPECT_EQ(1, none.InitRestore("Outlook", "C:\\x\\Outlook.vlb"));
}

TEST_F(HostFixture, OutlookIsOfferedOnlyWhereOfficeLeftAKey) {
    AddTestPlugIn("TestPlugInOutlook", "outlook.dll");
    AddTestPlugIn("TestPlugInAlpha", "alpha.dll");
    {
        CEngineHost host(home.Path());
        EXPECT_EQ(Lines{"Alpha"}, Names(host));
        EXPECT_EQ(Lines{"Outlook:DestroyPlugIn"}, CallsOf("DestroyPlugIn"));   // released at once
    }
    // Any one of the keys Office versions leave will do.
    for (const char* version : {"Outlook", "8.0", "9.0", "10.0", "11.0"}) {
        const std::string key = std::string("Software\\Microsoft\\Office\\") + version;
        ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, key, "probe", 1));
        CEngineHost host(home.Path());
        EXPECT_EQ((Lines{"Alpha", "Outlook"}), Names(host)) << key;
        ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str()));
    }
}

// Strings, long ones too, cross the library boundary both ways.
TEST_F(HostFixture, LoopsReachEnabledPlugInsAndStopAtTheFirstFailure) {
    AddTestPlugIn("TestPlugInAlpha", "alpha.dll");
    AddTestPlugIn("TestPlugInBeta", "beta.dll");
    CEngineHost host(home.Path());
    std::string text = "previous content that must be replaced", target = "C:\\" + std::string(600, 'f');
    host.GetPlugIn(0)->GetSysInfo(text);
    EXPECT_EQ("System information of Alpha padded well past the small-string buffer\n", text);
    Set("Alpha_InitBackup", "0");
    Clear();
    EXPECT_EQ(0, host.InitBackup());
    EXPECT_EQ(Lines{"Alpha:InitBackup"}, CallsOf("InitBackup"));
    EXPECT_EQ(1, host.UninitBackup());
    EXPECT_EQ(2u, CallsOf("UninitBackup").size());

    Clear();
    EXPECT_EQ(1, host.Backup(target));   // nothing enabled
    EXPECT_TRUE(CallsOf("Backup").empty());
    host.GetPlugIn(0)->Enable();
    host.GetPlugIn(1)->Enable();
    Set("Alpha_Backup", "0");
    Clear();
    EXPECT_EQ(0, host.Backup(target));
    EXPECT_EQ(Lines{"Alpha:Backup(" + target + ")"}, CallsOf("Backup"));
    Set("Beta_Restore", "0");
    EXPECT_EQ(0, host.Restore());

    // InitRestore goes to the plug-in of that name only.
    Clear();
    EXPECT_EQ(1, host.InitRestore("Beta", "C:\\Backups\\Beta.vlb"));
    EXPECT_EQ(1, host.InitRestore("beta", "C:\\Backups\\beta.vlb"));
    EXPECT_EQ(Lines{"Beta:InitRestore(C:\\Backups\\Beta.vlb)"}, CallsOf("InitRestore"));
}

// The real plug-ins, as built into the home directory, export the whole contract.
TEST(RealPlugIns, LoadThroughTheFourteenExports) {
    ScratchRegistry registry;
    for (const char* file : {"Wrenfold.dll", "Wrenmark.dll"}) {
        CEnginePlugIn plugIn;
        EXPECT_TRUE(plugIn.Load(WinePath(VELMORA_HOME_DIR) + "\\EnginePlugins\\" + file)) << file;
        plugIn.Unload();
    }
}

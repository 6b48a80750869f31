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
    Lines results;   // the answer variables set by this test

    void SetUp() override {
        ASSERT_TRUE(MakeDirs(home / "EnginePlugins"));
        SetEnvironmentVariableA("VELMORA_TEST_CALLS", calls.c_str());
    }
    void TearDown() override {
        SetEnvironmentVariableA("VELMORA_TEST_CALLS", nullptr);
        for (const std::string& name : results) SetEnvironmentVariableA(name.c_str(), nullptr);
    }
    void Answer(const std::string& plugInExport, const char* value) {
        results.push_back("VELMORA_TEST_" + plugInExport);
        SetEnvironmentVariableA(results.back().c_str(), value);
    }
    void AddTestPlugIn(const char* target, const std::string& asName) {
        std::string source = WinePath(VELMORA_TEST_PLUGIN_DIR) + "\\" + target + ".dll";
        ASSERT_TRUE(CopyFileA(source.c_str(), (home / "EnginePlugins\\" + asName).c_str(), FALSE)) << source;
    }
    // Calls of one export since the last Clear, in order.
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
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, "Software\\Microsoft\\Office\\11.0", "probe", 1));
    CEngineHost host(home.Path());
    EXPECT_EQ((Lines{"Alpha", "Outlook"}), Names(host));
}

TEST_F(HostFixture, LoopsReachEnabledPlugInsAndStopAtTheFirstFailure) {
    AddTestPlugIn("TestPlugInAlpha", "alpha.dll");
    AddTestPlugIn("TestPlugInBeta", "beta.dll");
    CEngineHost host(home.Path());
    Answer("Alpha_InitBackup", "0");
    Clear();
    EXPECT_EQ(0, host.InitBackup());
    EXPECT_EQ(Lines{"Alpha:InitBackup"}, CallsOf("InitBackup"));
    EXPECT_EQ(1, host.UninitBackup());
    EXPECT_EQ(2u, CallsOf("UninitBackup").size());

    Clear();
    EXPECT_EQ(1, host.Backup("C:\\Target"));   // nothing enabled
    EXPECT_TRUE(CallsOf("Backup").empty());
    host.GetPlugIn(0)->Enable();
    host.GetPlugIn(1)->Enable();
    Answer("Alpha_Backup", "0");
    Clear();
    EXPECT_EQ(0, host.Backup("C:\\Target"));
    EXPECT_EQ(Lines{"Alpha:Backup(C:\\Target)"}, CallsOf("Backup"));
    Answer("Beta_Restore", "0");
    EXPECT_EQ(0, host.Restore());

    // InitRestore goes to the plug-in of that name only.
    Clear();
    EXPECT_EQ(1, host.InitRestore("Beta", "C:\\Backups\\Beta.vlb"));
    EXPECT_EQ(1, host.InitRestore("beta", "C:\\Backups\\beta.vlb"));
    EXPECT_EQ(Lines{"Beta:InitRestore(C:\\Backups\\Beta.vlb)"}, CallsOf("InitRestore"));
}

TEST_F(HostFixture, StringsCrossTheLibraryBoundary) {
    AddTestPlugIn("TestPlugInAlpha", "alpha.dll");
    CEngineHost host(home.Path());
    std::string text = "previous content that must be replaced";
    host.GetPlugIn(0)->GetSysInfo(text);
    EXPECT_EQ("System information of Alpha padded well past the small-string buffer\n", text);
    std::string longFolder(600, 'f');
    EXPECT_EQ(1, host.GetPlugIn(0)->Backup(longFolder));
    EXPECT_EQ("Alpha:Backup(" + longFolder + ")", CallsOf("Backup").back());
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

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineHost.h"
#include "EnginePlugIn.h"
#include "EnginePlugInManager.h"
#include "PlugInContract.h"
#include "TestSupport.h"

using namespace testsupport;

namespace {
struct HostFixture : ::testing::Test {
    ScratchRegistry registry;
    ScratchFolder home;
    std::string plugins = home / "EnginePlugins";
    std::string calls = home / "calls.txt";

    void SetUp() override {
        ASSERT_TRUE(MakeDirs(plugins));
        SetEnvironmentVariableA("VELMORA_TEST_CALLS", calls.c_str());
    }
    void TearDown() override {
        SetEnvironmentVariableA("VELMORA_TEST_CALLS", nullptr);
        for (const char* name : {"Alpha", "Beta"})
            for (const char* e : {"Backup", "Restore", "InitBackup", "InitRestore"})
                SetEnvironmentVariableA(("VELMORA_TEST_" + std::string(name) + "_" + e).c_str(), nullptr);
    }
    void AddTestPlugIn(const char* target, const std::string& asName) {
        std::string source = WinePath(VELMORA_TEST_PLUGIN_DIR) + "\\" + target + ".dll";
        ASSERT_TRUE(CopyFileA(source.c_str(), (plugins + "\\" + asName).c_str(), FALSE)) << source;
    }
    std::vector<std::string> Calls() {
        return ReadLines(calls);
    }
    // Calls of one export, in order, as "Name:Export".
    std::vector<std::string> CallsOf(const std::string& exportName) {
        std::vector<std::string> found;
        for (const std::string& line : Calls())
            if (line.compare(line.find(':') + 1, exportName.size(), exportName) == 0) found.push_back(line);
        return found;
    }
    void ClearCalls() { DeleteFileA(calls.c_str()); }
    static std::vector<std::string> Names(CEngineHost& host) {
        std::vector<std::string> names;
        for (int i = 0; i < host.GetPlugInCount(); ++i) names.push_back(host.GetPlugIn(i)->GetName());
        return names;
    }
};
}  // namespace

TEST(HostFileNames, OnlyNamesEndingInDllAfterAtLeastOneCharacter) {
    EXPECT_TRUE(CEnginePlugInManager::IsPlugInFileName("Wrenfold.dll"));
    EXPECT_TRUE(CEnginePlugInManager::IsPlugInFileName("WRENFOLD.DLL"));
    EXPECT_TRUE(CEnginePlugInManager::IsPlugInFileName("x.dll"));
    EXPECT_FALSE(CEnginePlugInManager::IsPlugInFileName(".dll"));
    EXPECT_FALSE(CEnginePlugInManager::IsPlugInFileName("a.dll.old"));
    EXPECT_FALSE(CEnginePlugInManager::IsPlugInFileName("readme.txt"));
    EXPECT_FALSE(CEnginePlugInManager::IsPlugInFileName("dll"));
}

TEST_F(HostFixture, ScanTakesOnlyCompletePlugInLibraries) {
    AddTestPlugIn("TestPlugInAlpha", "ALPHA.DLL");            // upper case is taken
    AddTestPlugIn("TestPlugInBeta", "beta.dll.old");          // not a .dll
    AddTestPlugIn("TestPlugInBeta", ".dll");                  // name too short
    AddTestPlugIn("TestPlugInIncomplete", "incomplete.dll");  // lacks GetSysInfo
    ASSERT_TRUE(WriteFileBytes(plugins + "\\notes.txt", "not a plug-in"));
    ASSERT_TRUE(WriteFileBytes(plugins + "\\broken.dll", "MZ but not really a library"));
    ASSERT_TRUE(MakeDirs(plugins + "\\folder.dll"));
    AddTestPlugIn("TestPlugInBeta", "folder.dll\\nested.dll");   // no recursion

    CEngineHost host(home.Path());
    EXPECT_EQ(std::vector<std::string>{"Alpha"}, Names(host));
    // The incomplete library was never started.
    for (const std::string& line : Calls()) EXPECT_NE(0u, line.find("Incomplete:")) << line;
}

TEST_F(HostFixture, MissingPlugInFolderGivesNoPlugIns) {
    ScratchFolder empty;
    CEngineHost host(empty.Path());
    EXPECT_EQ(0, host.GetPlugInCount());
    EXPECT_EQ(1, host.InitBackup());
    EXPECT_EQ(1, host.Backup("C:\\x"));
    EXPECT_EQ(1, host.Restore());
    EXPECT_EQ(1, host.InitRestore("Outlook", "C:\\x\\Outlook.vlb"));
}

TEST_F(HostFixture, PlugInsAreSortedByNameAndReleasedInThatOrder) {
    AddTestPlugIn("TestPlugInBeta", "aaa.dll");
    AddTestPlugIn("TestPlugInAlpha", "zzz.dll");
    {
        CEngineHost host(home.Path());
        EXPECT_EQ((std::vector<std::string>{"Alpha", "Beta"}), Names(host));
        ClearCalls();
    }
    EXPECT_EQ((std::vector<std::string>{"Alpha:DestroyPlugIn", "Beta:DestroyPlugIn"}), Calls());
}

TEST_F(HostFixture, OutlookIsOfferedOnlyWhereOfficeLeftAKey) {
    AddTestPlugIn("TestPlugInOutlook", "outlook.dll");
    AddTestPlugIn("TestPlugInAlpha", "alpha.dll");
    {
        CEngineHost host(home.Path());
        EXPECT_EQ(std::vector<std::string>{"Alpha"}, Names(host));
        // The dropped plug-in was released at once.
        EXPECT_EQ(std::vector<std::string>{"Outlook:DestroyPlugIn"}, CallsOf("DestroyPlugIn"));
    }
    for (const char* key : {"Software\\Microsoft\\Office\\Outlook", "Software\\Microsoft\\Office\\8.0",
                            "Software\\Microsoft\\Office\\11.0"}) {
        ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, key, "probe", 1));
        CEngineHost host(home.Path());
        EXPECT_EQ((std::vector<std::string>{"Alpha", "Outlook"}), Names(host)) << key;
        SHDeleteKeyA(HKEY_CURRENT_USER, "Software\\Microsoft\\Office");
    }
}

TEST_F(HostFixture, LoopsStopAtTheFirstFailure) {
    AddTestPlugIn("TestPlugInAlpha", "alpha.dll");
    AddTestPlugIn("TestPlugInBeta", "beta.dll");
    CEngineHost host(home.Path());

    SetEnvironmentVariableA("VELMORA_TEST_Alpha_InitBackup", "0");
    ClearCalls();
    EXPECT_EQ(0, host.InitBackup());
    EXPECT_EQ(std::vector<std::string>{"Alpha:InitBackup"}, CallsOf("InitBackup"));
    EXPECT_EQ(1, host.UninitBackup());
    EXPECT_EQ((std::vector<std::string>{"Alpha:UninitBackup", "Beta:UninitBackup"}), CallsOf("UninitBackup"));

    // Backup and Restore reach enabled plug-ins only.
    ClearCalls();
    EXPECT_EQ(1, host.Backup("C:\\Target"));
    EXPECT_TRUE(CallsOf("Backup").empty());
    EXPECT_EQ(2u, CallsOf("IsEnabled").size());
    host.GetPlugIn(0)->Enable();
    host.GetPlugIn(1)->Enable();
    SetEnvironmentVariableA("VELMORA_TEST_Alpha_Backup", "0");
    ClearCalls();
    EXPECT_EQ(0, host.Backup("C:\\Target"));
    EXPECT_EQ(std::vector<std::string>{"Alpha:Backup(C:\\Target)"}, CallsOf("Backup"));
    SetEnvironmentVariableA("VELMORA_TEST_Alpha_Backup", nullptr);
    SetEnvironmentVariableA("VELMORA_TEST_Beta_Restore", "0");
    ClearCalls();
    EXPECT_EQ(0, host.Restore());
    EXPECT_EQ((std::vector<std::string>{"Alpha:Restore", "Beta:Restore"}), CallsOf("Restore"));

    // InitRestore goes to the plug-in of that name only.
    ClearCalls();
    EXPECT_EQ(1, host.InitRestore("Beta", "C:\\Backups\\Beta.vlb"));
    EXPECT_EQ(std::vector<std::string>{"Beta:InitRestore(C:\\Backups\\Beta.vlb)"}, CallsOf("InitRestore"));
    ClearCalls();
    EXPECT_EQ(1, host.InitRestore("Nobody", "C:\\Backups\\Nobody.vlb"));
    EXPECT_TRUE(CallsOf("InitRestore").empty());
    EXPECT_EQ(2u, CallsOf("GetName").size());
    EXPECT_EQ(host.GetPlugIn(1), host.FindPlugIn("Beta"));
    EXPECT_EQ(nullptr, host.FindPlugIn("beta"));
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

// The real plug-ins, as built into the home directory.
TEST(RealPlugIns, ExportTheWholeContractAndAnswerTheBasics) {
    ScratchRegistry registry;
    std::string home = WinePath(VELMORA_HOME_DIR);
    for (const char* file : {"Wrenfold.dll", "Wrenmark.dll"}) {
        std::string path = home + "\\EnginePlugins\\" + file;
        HMODULE module = LoadLibraryA(path.c_str());
        ASSERT_NE(nullptr, module) << path;
        for (const char* name : kPlugInExportNames)
            EXPECT_NE(nullptr, GetProcAddress(module, name)) << file << " lacks " << name;
        FreeLibrary(module);
    }

    CEnginePlugIn wrenfold;
    ASSERT_TRUE(wrenfold.Load(home + "\\EnginePlugins\\Wrenfold.dll"));
    EXPECT_EQ("Outlook Express", wrenfold.GetName());
    IdentityList* backupList = nullptr;
    IdentityList* restoreList = nullptr;
    IdentityList* sideTwo = nullptr;
    EXPECT_EQ(1, wrenfold.GetIdentities(&backupList, 1));
    EXPECT_EQ(1, wrenfold.GetIdentities(&restoreList, 0));
    EXPECT_EQ(1, wrenfold.GetIdentities(&sideTwo, 2));
    ASSERT_NE(nullptr, backupList);
    EXPECT_NE(backupList, restoreList);
    EXPECT_EQ(restoreList, sideTwo);
    EXPECT_TRUE(backupList->empty());
    EXPECT_FALSE(wrenfold.IsEnabled());
    wrenfold.Enable();
    EXPECT_TRUE(wrenfold.IsEnabled());
    wrenfold.Disable();
    EXPECT_FALSE(wrenfold.IsEnabled());
    std::string info = "old";
    wrenfold.GetSysInfo(info);
    EXPECT_EQ(0u, info.find("OS_Version: "));
    EXPECT_EQ('\n', info.back());
    wrenfold.Unload();
}

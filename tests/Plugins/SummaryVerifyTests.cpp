// Checking an archive's summary before a restore: the entry is found wherever
// it lies, and a mismatch is told in a message box that a watcher thread
// reads and closes.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "Log.h"
#include "SystemInfo.h"
#include "SystemSummary.h"
#include "TestSupport.h"
#include "Unzipper.h"
#include "Zipper.h"

using namespace testsupport;

namespace {
const char kCaption[] = "Error - Failed to Restore";

// Closes the first message box with the restore-failure caption and keeps
// what it showed.
struct BoxWatcher {
    std::atomic<bool> stop{false};
    bool found = false;
    bool owned = false;
    std::string text;
    std::thread thread{[this] {
        while (!stop) {
            if (HWND box = FindWindowA("#32770", kCaption)) {
                char shown[1024] = {};
                GetDlgItemTextA(box, 0xFFFF, shown, sizeof(shown));
                text = shown;
                owned = GetWindow(box, GW_OWNER) != nullptr;
                found = true;
                PostMessageA(box, WM_COMMAND, IDOK, 0);
                return;
            }
            Sleep(10);
        }
    }};
    void Finish() {
        stop = true;
        thread.join();
    }
};

struct VerifyFixture : ::testing::Test {
    ScratchFolder folder;
    HMODULE strings = LoadLibraryA((WinePath(VELMORA_HOME_DIR) + "\\VLOTPluginLocaleSatellite_ENU.dll").c_str());
    CSystemInfo current{2, 5, 1, "11.0.8217.0", "ALICE"};

    void TearDown() override { FreeLibrary(strings); }

    // An archive "Outlook.vlb" holding the given summary at the given entry
    // (none when empty) and one unrelated file.
    std::string Archive(const std::string& entry, const std::string& summary) {
        std::string tree = folder / "tree";
        EXPECT_TRUE(MakeDirs(tree + "\\Outlook\\Profile"));
        EXPECT_TRUE(WriteFileBytes(tree + "\\Outlook\\Profile\\Identity.txt", "hive"));
        if (!entry.empty()) {
            std::string path = tree + "\\" + entry;
            EXPECT_TRUE(MakeDirs(path.substr(0, path.find_last_of('\\'))));
            EXPECT_TRUE(WriteFileBytes(path, summary));
        }
        std::string archive = folder / "Outlook.vlb";
        CZipper zipper(archive.c_str(), tree.c_str());
        EXPECT_TRUE(zipper.AddFolder((tree + "\\Outlook").c_str(), false));
        EXPECT_TRUE(zipper.CloseArchive());
        return archive;
    }

    bool Verify(const std::string& archive, BoxWatcher& watcher) {
        CUnzipper unzipper(archive.c_str());
        EXPECT_TRUE(unzipper.IsOpen());
        bool ok = VerifySystemSummary(unzipper, current, strings);
        watcher.Finish();
        return ok;
    }
};
}  // namespace

TEST_F(VerifyFixture, MatchingSummaryInAnyFolderPassesWithoutABox) {
    std::string archive = Archive("Outlook\\Profile\\deeper\\summary.txt",
                                  "OS_Version: 2.5.2\r\nApp_Version: 11.0.5510.0\r\nUser_Name: alice\r\n");
    BoxWatcher watcher;
    EXPECT_TRUE(Verify(archive, watcher));
    EXPECT_FALSE(watcher.found);
}

TEST_F(VerifyFixture, MismatchIsShownInABoxWithoutOwner) {
    std::string archive =
        Archive("Outlook\\summary.txt", "OS_Version: 2.5.1\r\nApp_Version: 11.0.8217.0\r\nUser_Name: Bob\r\n");
    BoxWatcher watcher;
    EXPECT_FALSE(Verify(archive, watcher));
    EXPECT_TRUE(watcher.found);
    EXPECT_FALSE(watcher.owned);
    EXPECT_EQ("Can't restore the backup file because it was created for Bob.", watcher.text);
}

TEST_F(VerifyFixture, OtherClientMajorVersionNamesTheClient) {
    std::string archive = Archive("Outlook\\summary.txt", "App_Version: 10.0.2627.1\r\n");
    BoxWatcher watcher;
    EXPECT_FALSE(Verify(archive, watcher));
    EXPECT_EQ("Can't restore the backup file because it was created for a different version of Outlook.",
              watcher.text);
}

TEST_F(VerifyFixture, ArchiveWithoutSummaryFailsSilently) {
    ASSERT_TRUE(g_Log.OpenLogFile((folder / "core.log").c_str(), true));
    g_Log.SetLogLevel(1);
    std::string archive = Archive("", "");
    BoxWatcher watcher;
    EXPECT_FALSE(Verify(archive, watcher));
    g_Log.Close();
    EXPECT_FALSE(watcher.found);
    std::string log;
    ReadFileBytes(folder / "core.log", log);
    EXPECT_NE(std::string::npos, log.find("summary.txt")) << log;
}

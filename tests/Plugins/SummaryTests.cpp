// The summary tying an archive to the system it was made on.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Log.h"
#include "SystemInfo.h"
#include "SystemSummary.h"
#include "TestSupport.h"
#include "Unzipper.h"
#include "Zipper.h"

using namespace testsupport;

namespace {
const CSystemInfo kCurrent(2, 5, 1, "6.0.2800.1106", "ALICE");

SummaryVerdict Compare(const std::string& summary, const CSystemInfo& current = kCurrent) {
    ScratchFolder folder;
    EXPECT_TRUE(WriteFileBytes(folder / "summary.txt", summary));
    std::unique_ptr<FILE, int (*)(FILE*)> file(fopen((folder / "summary.txt").c_str(), "r"), &fclose);
    return file ? CompareSystemSummary(file.get(), current) : SummaryVerdict();
}

// The restore-failure box's text, read and closed by a timer its modal loop runs.
std::string g_box;
void CALLBACK CloseBox(HWND, UINT, UINT_PTR, DWORD) {
    if (HWND box = FindWindowA("#32770", "Error - Failed to Restore")) {
        char shown[1024] = {};
        GetDlgItemTextA(box, 0xFFFF, shown, sizeof(shown));
        g_box = std::string(shown) + (GetWindow(box, GW_OWNER) ? " (owned)" : "");
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
}

// Checks an archive holding Identity.txt and the given files (path ->
// content, in archive order) against Outlook 11.
bool Verify(const std::vector<std::pair<std::string, std::string>>& files) {
    ScratchFolder folder;
    EXPECT_TRUE(MakeDirs(folder / "Outlook\\Profile\\deeper"));
    EXPECT_TRUE(WriteFileBytes(folder / "Outlook\\Profile\\Identity.txt", "hive"));
    {
        CZipper zipper((folder / "Outlook.vlb").c_str(), folder.Path().c_str());
        EXPECT_TRUE(zipper.AddFolder((folder / "Outlook\\Profile").c_str(), false));
        for (const auto& file : files)
            EXPECT_TRUE(WriteFileBytes(folder / file.first, file.second) && zipper.AddFile((folder / file.first).c_str(), false));
        EXPECT_TRUE(zipper.CloseArchive());
    }
    static HMODULE strings = LoadLibraryA((WinePath(VELMORA_HOME_DIR) + "\\VLOTPluginLocaleSatellite_ENU.dll").c_str());
    CUnzipper unzipper((folder / "Outlook.vlb").c_str());
    g_box.clear();
    UINT_PTR timer = SetTimer(nullptr, 0, 10, CloseBox);
    bool ok = VerifySystemSummary(unzipper, CSystemInfo(2, 5, 1, "11.0.8217.0", "ALICE"), strings);
    KillTimer(nullptr, timer);
    return ok;
}
bool Verify(const std::string& entry, const std::string& summary) {
    return Verify(entry.empty() ? std::vector<std::pair<std::string, std::string>>() : std::vector<std::pair<std::string, std::string>>{{entry, summary}});
}
}  // namespace

TEST(SystemSummary, WrittenOverOlderContentWithCrLfAndFailureReported) {
    ScratchFolder folder;
    std::string path = folder / "summary.txt", bytes;
    ASSERT_TRUE(WriteFileBytes(path, "older and longer content that must go away\n"));
    ASSERT_TRUE(WriteSystemSummary(path, CSystemInfo(2, 5, 1, "6.0.2900.2180", "alice")));
    ASSERT_TRUE(ReadFileBytes(path, bytes));
    EXPECT_EQ("OS_Version: 2.5.1\r\nApp_Version: 6.0.2900.2180\r\nUser_Name: alice\r\n", bytes);
    EXPECT_FALSE(WriteSystemSummary(folder / "missing\\summary.txt", kCurrent));
}

// Only the platform, the Windows major version, the client's major version and
// the user name (without case) count; the first mismatching line decides.
TEST(SystemSummary, ComparesOnlyWhatTiesTheArchiveToThisSystem) {
    const struct { std::string summary; UINT message; } cases[] = {
        {"OS_Version: 2.5.0\r\nApp_Version: 6.0.2900.2180\r\nUser_Name: alice\r\n", 0},
        {"User_Name: ALICE\nApp_Version: 6.0.1\nOS_Version: 2.5.3\n", 0},   // any order, minor versions aside
        {"OS_Version: 2.6.1\n", 4002}, {"OS_Version: 1.5.1\n", 4002},
        {"App_Version: 5.50.4807.1700\n", 4001},
        {"User_Name: Alice2\n", 4000}, {"User_Name: Bob\nOS_Version: 1.4.10\n", 4000},
        // A line longer than one read is read in parts; a later part is its own line.
        {std::string(511, 'x') + "OS_Version: 1.4.10\n", 4002},
    };
    for (const auto& c : cases) EXPECT_EQ(c.message, Compare(c.summary).message) << c.summary;
    // An unreadable client version counts as 0, on either side.
    EXPECT_EQ(4001u, Compare("App_Version: 6.0.2900.2180\n", CSystemInfo(2, 5, 1, "", "ALICE")).message);
    EXPECT_EQ(0u, Compare("App_Version: \n", CSystemInfo(2, 5, 1, "", "ALICE")).message);
    EXPECT_EQ("", Compare("User_Name:").storedUserName);   // a bare key names nobody
}

TEST(SystemSummary, MessagesAreFormattedWithinTheirBuffer) {
    std::string wrongUser = "Can't restore the backup file because it was created for %s.";
    EXPECT_EQ("Can't restore the backup file because it was created for Alice.", FormatSummaryMessage(wrongUser, "Alice"));
    // A name is text, never a format.
    EXPECT_EQ("Can't restore the backup file because it was created for %d%s.", FormatSummaryMessage(wrongUser, "%d%s"));
    EXPECT_EQ("100% sure", FormatSummaryMessage("100%% sure", ""));
    EXPECT_EQ(511u, FormatSummaryMessage(wrongUser, std::string(600, 'n')).size());
}

TEST(SystemSummary, ArchiveCheckPassesAMatchAndRefusesTheRest) {
    // Found in any folder; fits despite minor versions and case.
    EXPECT_TRUE(Verify("Outlook\\Profile\\deeper\\summary.txt",
                       "OS_Version: 2.5.2\r\nApp_Version: 11.0.5510.0\r\nUser_Name: alice\r\n"));
    EXPECT_EQ("", g_box);
    EXPECT_FALSE(Verify("Outlook\\summary.txt", "App_Version: 11.0.1\r\nUser_Name: Bob\r\n"));
    EXPECT_EQ("Can't restore the backup file because it was created for Bob.", g_box);
    EXPECT_FALSE(Verify("", ""));   // no summary: refused without a box
    EXPECT_EQ("", g_box);
}

// Summaries this program never writes are refused as a missing one is:
// logged, no box, false. What it does write, or a part of it, still passes.
TEST(SystemSummary, ArchiveCheckRefusesSummariesThatAreNotOneOfOurs) {
    ScratchFolder logFolder;
    const std::string logPath = logFolder / "summary.log";
    ASSERT_TRUE(g_Log.OpenLogFile(logPath.c_str(), true));
    g_Log.SetLogLevel(1);
    const std::string good = "OS_Version: 2.5.1\r\nApp_Version: 11.0.8217.0\r\nUser_Name: alice\r\n";
    const std::string top = "Outlook\\summary.txt", deeper = "Outlook\\Profile\\deeper\\summary.txt";
    // 4096 bytes in all: the largest summary taken.
    const std::string padded = good + std::string(4096 - good.size() - 2, 'x') + "\r\n";
    const struct {
        std::vector<std::pair<std::string, std::string>> files;
        const char* logged;   // nullptr: accepted
    } cases[] = {
        {{{top, good}}, nullptr},
        {{{top, "User_Name: Alice\nOS_Version: 2.5.7\n"}}, nullptr},   // some lines, any order, bare LF
        {{{top, "App_Version: 11.0.1\t\r\n\r\nnotes\r\n"}}, nullptr},   // a TAB and other lines are text
        {{{top, padded}}, nullptr},
        {{{deeper, good}, {top, good}}, nullptr},   // two copies that agree
        {{{top, ""}}, "holds none of its lines"},
        {{{top, "Made by hand\r\n os_version: 2.5.1\r\n OS_Version: 2.5.1\r\n"}}, "holds none of its lines"},
        {{{top, padded + "x"}}, "is larger than 4096 bytes"},
        {{{top, good + std::string(1, '\0')}}, "control byte 0x00"},
        {{{top, std::string("OS_Version: 2.5.1\r\nUser_Name: al\x1b[2Jice\r\n")}}, "control byte 0x1b"},
        {{{top, "User_Name: alice\x7f\r\n"}}, "control byte 0x7f"},
        {{{top, "OS_Version: 2.5.1\r\n\fUser_Name: alice\r\n"}}, "control byte 0x0c"},
        // A second summary anywhere that says anything else, even only in its line ends.
        {{{top, good}, {deeper, "OS_Version: 2.5.1\r\nApp_Version: 11.0.8217.0\r\nUser_Name: Bob\r\n"}}, "two different system summaries"},
        {{{deeper, good}, {top, "OS_Version: 2.5.1\nApp_Version: 11.0.8217.0\nUser_Name: alice\n"}}, "two different system summaries"},
        // The second one is read whole too: no way around the size limit.
        {{{top, good}, {deeper, padded + "x"}}, "is larger than 4096 bytes"},
    };
    std::string seen;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.files.back().second.substr(0, 80));
        EXPECT_EQ(c.logged == nullptr, Verify(c.files));
        EXPECT_EQ("", g_box);
        std::string log;
        ASSERT_TRUE(ReadFileBytes(logPath, log));
        const std::string added = log.substr(seen.size());
        seen = log;
        if (c.logged) EXPECT_NE(std::string::npos, added.find(c.logged)) << added;
        else EXPECT_EQ("", added);
    }
    g_Log.Close();
}

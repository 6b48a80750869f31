#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "Log.h"
#include "SystemInfo.h"
#include "SystemSummary.h"
#include "TestSupport.h"

using namespace testsupport;

namespace {
// The current system of these tests: Windows XP, Outlook Express 6, ALICE.
const CSystemInfo kCurrent(2, 5, 1, "6.0.2800.1106", "ALICE");

SummaryVerdict Compare(const std::string& summary, const CSystemInfo& current = kCurrent) {
    ScratchFolder folder;
    std::string path = folder / "summary.txt";
    EXPECT_TRUE(WriteFileBytes(path, summary));
    FILE* file = fopen(path.c_str(), "r");
    EXPECT_NE(nullptr, file);
    SummaryVerdict verdict = file ? CompareSystemSummary(file, current) : SummaryVerdict();
    if (file) fclose(file);
    return verdict;
}

std::string Summary(const char* os, const char* app, const char* user) {
    return std::string("OS_Version: ") + os + "\r\nApp_Version: " + app + "\r\nUser_Name: " + user + "\r\n";
}
}  // namespace

TEST(SystemSummary, WrittenInTextModeWithCrLf) {
    ScratchFolder folder;
    std::string path = folder / "summary.txt";
    ASSERT_TRUE(WriteFileBytes(path, "older and longer content that must go away\n"));
    ASSERT_TRUE(WriteSystemSummary(path, CSystemInfo(2, 5, 1, "6.0.2900.2180", "alice")));
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(path, bytes));
    EXPECT_EQ("OS_Version: 2.5.1\r\nApp_Version: 6.0.2900.2180\r\nUser_Name: alice\r\n", bytes);
    EXPECT_EQ("OS_Version: 2.5.1\nApp_Version: 6.0.2900.2180\nUser_Name: alice\n",
              FormatSystemSummary(CSystemInfo(2, 5, 1, "6.0.2900.2180", "alice")));
    // Empty facts are written as nothing after the blank.
    ASSERT_TRUE(WriteSystemSummary(path, CSystemInfo(0, 0, 0, "", "")));
    ASSERT_TRUE(ReadFileBytes(path, bytes));
    EXPECT_EQ("OS_Version: 0.0.0\r\nApp_Version: \r\nUser_Name: \r\n", bytes);
}

TEST(SystemSummary, UnwritablePathIsLoggedAndFails) {
    ScratchFolder folder;
    ASSERT_TRUE(g_Log.OpenLogFile((folder / "core.log").c_str(), true));
    g_Log.SetLogLevel(1);
    std::string path = folder / "missing\\summary.txt";
    EXPECT_FALSE(WriteSystemSummary(path, kCurrent));
    g_Log.Close();
    std::string log;
    ReadFileBytes(folder / "core.log", log);
    EXPECT_NE(std::string::npos, log.find("Failed to _tfopen " + path + " with error = 3.")) << log;
}

TEST(SystemSummary, OnlyMajorVersionsAndPlatformCount) {
    // Minor Windows version and the client's minor numbers are not compared.
    for (const char* os : {"2.5.1", "2.5.0", "2.5.2"})
        EXPECT_EQ(0u, Compare(Summary(os, "6.0.2900.2180", "Alice")).message) << os;
    for (const char* os : {"2.6.0", "1.4.10", "2.4.1"})
        EXPECT_EQ(4002u, Compare(Summary(os, "6.0.2900.2180", "Alice")).message) << os;
    EXPECT_EQ(4001u, Compare(Summary("2.5.1", "5.50.4807.1700", "Alice")).message);
    EXPECT_EQ(4001u, Compare(Summary("2.5.1", "6.0.2900.2180", "Alice"), CSystemInfo(2, 5, 1, "", "ALICE")).message);
    // Unreadable on both sides counts as 0 on both sides.
    EXPECT_EQ(0u, Compare(Summary("2.5.1", "", "Alice"), CSystemInfo(2, 5, 1, "", "ALICE")).message);
}

TEST(SystemSummary, UserNameComparedWithoutCaseAndReportedAsStored) {
    EXPECT_EQ(0u, Compare(Summary("2.5.1", "6.0.2900.2180", "Alice")).message);
    SummaryVerdict bob = Compare(Summary("2.5.1", "6.0.2900.2180", "Alice"), CSystemInfo(2, 5, 1, "6.0", "Bob"));
    EXPECT_EQ(4000u, bob.message);
    EXPECT_EQ("Alice", bob.storedUserName);
    // The whole name counts, not a prefix.
    EXPECT_EQ(4000u, Compare(Summary("2.5.1", "6.0.2900.2180", "Alice2")).message);
    EXPECT_EQ(4000u, Compare(Summary("2.5.1", "6.0.2900.2180", "")).message);
    // A bare key at the end of the file names nobody.
    EXPECT_EQ("", Compare("User_Name:", CSystemInfo(2, 5, 1, "6.0", "Bob")).storedUserName);
}

TEST(SystemSummary, LinesAreTestedInTheirOwnOrderAndMissingKeysAreNotTested) {
    // The first failing line decides.
    std::string reordered = "User_Name: Bob\nOS_Version: 1.4.10\n";
    EXPECT_EQ(4000u, Compare(reordered).message);
    EXPECT_EQ(4002u, Compare("OS_Version: 1.4.10\nUser_Name: Bob\n").message);
    EXPECT_EQ(0u, Compare("OS_Version: 2.5.1\n").message);
    EXPECT_EQ(0u, Compare("").message);
    // Unknown lines and keys not at the start of a line are skipped.
    EXPECT_EQ(0u, Compare("Comment: x\n OS_Version: 1.4.10\nos_version: 1.4.10\n").message);
    // A line longer than one read is read in parts; a later part is its own line.
    EXPECT_EQ(4002u, Compare(std::string(511, 'x') + "OS_Version: 1.4.10\n").message);
}

TEST(SystemSummary, MessagesAreFormattedWithinTheirBuffer) {
    std::string wrongUser = "Can't restore the backup file because it was created for %s.";
    EXPECT_EQ("Can't restore the backup file because it was created for Alice.", FormatSummaryMessage(wrongUser, "Alice"));
    // A name is text, never a format.
    EXPECT_EQ("Can't restore the backup file because it was created for %d%s.", FormatSummaryMessage(wrongUser, "%d%s"));
    EXPECT_EQ("100% sure", FormatSummaryMessage("100%% sure", ""));
    std::string longName(600, 'n');
    std::string cut = FormatSummaryMessage(wrongUser, longName);
    EXPECT_EQ(511u, cut.size());
    EXPECT_EQ(0u, cut.find("Can't restore"));
}

// Every backup reads its archive back before the archive gets its name: a
// damaged one fails the backup and leaves the previous archive as it was.
#include <windows.h>

#include "WrenfoldHarness.h"

#include "ArchiveVerifier.h"

using namespace testsupport;

namespace {
// The damage seam of the read-back, set for this process only while the object lives.
class DamageBeforeCheck {
public:
    DamageBeforeCheck() { SetEnvironmentVariableA(kDamageBeforeCheckVariable, "1"); }
    ~DamageBeforeCheck() { SetEnvironmentVariableA(kDamageBeforeCheckVariable, nullptr); }
};

ULONGLONG TotalFileBytes(const std::vector<ArchiveEntry>& entries) {
    ULONGLONG total = 0;
    for (const ArchiveEntry& entry : entries) total += entry.data.size();
    return total;
}
}  // namespace

TEST_F(WrenfoldTest, ADamagedWrittenArchiveFailsTheBackupAndKeepsThePreviousOne) {
    StartPlugIn();
    Find(BackupList(), "Main Identity")->Enable();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    // The log's last word on a backup: every entry, every byte, the time.
    const std::vector<ArchiveEntry> entries = ReadArchiveEntries(Archive());
    std::vector<std::string> checks = LinesWith(NewLog(), "Backup check: ");
    ASSERT_EQ(1u, checks.size());
    EXPECT_NE(std::string::npos, checks[0].find("Backup check: " + std::to_string(entries.size()) + " entries verified, " +
                                                std::to_string(TotalFileBytes(entries)) + " bytes, in "))
        << checks[0];

    std::string previous, now;
    ASSERT_TRUE(ReadFileBytes(Archive(), previous));
    const std::string store = mailfixture::ExpandedStoreFolder(profile.Path(), Identity("Main Identity"));
    ASSERT_TRUE(WriteFileBytes(store + "\\Sent Items.dbx", std::string(200000, 'n')));
    {
        DamageBeforeCheck damage;
        EXPECT_EQ(0, Backup(target.Path()));
    }
    ASSERT_TRUE(ReadFileBytes(Archive(), now));
    EXPECT_TRUE(previous == now) << "the previous archive changed";
    EXPECT_EQ(std::vector<std::string>{"Outlook Express.vlb"}, Listing(target.Path()));
    const std::string log = NewLog();
    std::vector<std::string> failures = LinesWith(log, "failed its check at the entry Outlook Express\\");
    EXPECT_EQ(1u, failures.size()) << log;
    checks = LinesWith(log, "Backup check: ");
    ASSERT_EQ(2u, checks.size());
    EXPECT_NE(std::string::npos, checks[1].find("the check failed")) << checks[1];

    // Without the damage the same backup goes through.
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    ASSERT_TRUE(ReadFileBytes(Archive(), now));
    EXPECT_FALSE(previous == now);
}

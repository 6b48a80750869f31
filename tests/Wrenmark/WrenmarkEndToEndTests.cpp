// Backup and restore of the synthetic Outlook installation through the real
// Wrenmark plug-in's exports.
#include <windows.h>

#include "WrenfoldHarness.h"

using namespace testsupport;

namespace {
const std::string kTop = "Outlook";
const char* const kNt = mailfixture::kOutlookProfilesKey;
const char* const kLegacy = mailfixture::kOutlookLegacyProfilesKey;

std::string ProfileKey(const char* root, const std::string& name) { return std::string(root) + "\\" + name; }
std::string KeyOf(const std::string& key) { return DumpKeyTree(HKEY_CURRENT_USER, key); }

class WrenmarkTest : public MailPlugInTest {
protected:
    WrenmarkTest() : MailPlugInTest("Wrenmark", "Outlook") {}
    std::string DataFolder() const { return mailfixture::OutlookDataFolder(profile.Path()); }
    // Backs up the profile at this position of the backup list into a file
    // of its own.
    std::string BackupProfile(size_t position, const std::string& name) {
        Export<PFN_Disable>("Disable")();
        BackupList().at(position)->Enable();
        EXPECT_EQ(1, Backup(target.Path())) << NewLog();
        EXPECT_TRUE(MoveFileExA(Archive().c_str(), (profile / name).c_str(), MOVEFILE_REPLACE_EXISTING));
        return profile / name;
    }
};
}  // namespace

TEST_F(WrenmarkTest, ProfileBackupWritesItsTreeAndRestoreBringsEverythingBack) {
    StartPlugIn();
    ASSERT_EQ(1u, BackupList().size());
    EnableAll();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    const std::string folder = kTop + "\\" + mailfixture::kOutlookProfileName;
    std::vector<std::string> expected = {kTop + "\\", folder + "\\", folder + "\\Identity.txt", folder + "\\Accounts\\",
                                         folder + "\\Accounts\\Account.txt", folder + "\\Messages\\"};
    AppendStoreEntries(DataFolder(), folder + "\\Messages", expected);
    expected.push_back(kTop + "\\summary.txt");
    EXPECT_EQ(expected, ListArchive(Archive()));
    EXPECT_TRUE(Contains(expected, folder + "\\Messages\\Archives\\archive.pst"));

    // Profile, accounts and data files gone; the profile root itself stays.
    const std::string before = mailfixture::Snapshot(profile.Path());
    const auto files = ReadTree(DataFolder());
    ASSERT_EQ(ERROR_SUCCESS, SHDeleteKeyA(HKEY_CURRENT_USER, ProfileKey(kNt, mailfixture::kOutlookProfileName).c_str()));
    ASSERT_EQ(ERROR_SUCCESS, SHDeleteKeyA(HKEY_CURRENT_USER, mailfixture::kOutlookAccountsKey));
    ASSERT_TRUE(RemoveTree(DataFolder()));
    ASSERT_EQ(1, RestoreEverything(Archive())) << NewLog();
    EXPECT_EQ(before, mailfixture::Snapshot(profile.Path()));
    EXPECT_EQ(files, ReadTree(DataFolder()));   // byte for byte, the sub-folder's file in its sub-folder
}

TEST_F(WrenmarkTest, ARestoreGoesUnderTheFirstRootThatExistsAndReplacesTheProfileThere) {
    ASSERT_TRUE(mailfixture::AddOutlookProfile(profile.Path(), kLegacy, "Outlook", 1));
    ASSERT_TRUE(mailfixture::AddOutlookProfile(profile.Path(), kLegacy, "Travel", 2));
    const std::string travel = KeyOf(ProfileKey(kLegacy, "Travel"));
    StartPlugIn();
    // The first root's profiles first; a profile under both roots twice.
    std::vector<std::string> names;
    for (CBackupIdentity* identity : BackupList()) names.push_back(identity->GetName());
    ASSERT_EQ((std::vector<std::string>{"Outlook", "Outlook", "Travel"}), names);
    const std::string archive = BackupProfile(2, "travel.vlb");

    // Both roots exist: the profile goes under the first only.
    ASSERT_EQ(1, RestoreEverything(archive)) << NewLog();
    EXPECT_EQ(travel, KeyOf(ProfileKey(kNt, "Travel")));
    EXPECT_EQ(travel, KeyOf(ProfileKey(kLegacy, "Travel")));

    // Without the first root, under the second, replacing the profile there:
    // what only the current profile held is gone.
    ASSERT_EQ(ERROR_SUCCESS, SHDeleteKeyA(HKEY_CURRENT_USER, kNt));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, ProfileKey(kLegacy, "Travel"), "added later", "x"));
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, ProfileKey(kLegacy, "Travel") + "\\0a0d020000000000c000000000000046", "only now", 1));
    ASSERT_EQ(1, RestoreEverything(archive)) << NewLog();
    EXPECT_EQ(travel, KeyOf(ProfileKey(kLegacy, "Travel")));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kNt));

    // With neither root there is nowhere to put it.
    ASSERT_EQ(ERROR_SUCCESS, SHDeleteKeyA(HKEY_CURRENT_USER, kLegacy));
    EXPECT_EQ(0, RestoreEverything(archive));
    EXPECT_NE(std::string::npos, NewLog().find("Failed to store Outlook Profile registry keys."));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kLegacy));
}

TEST_F(WrenmarkTest, ADataFileHeldOpenIsReportedAndTheBackupFails) {
    const std::string pst = DataFolder() + "\\Outlook.pst";
    StartPlugIn();
    EnableAll();
    EXPECT_EQ(0, BackupWhileLocked(pst));
    EXPECT_NE(std::string::npos, NewLog().find("The file " + pst + " could not be read and is missing from the backup."));
    const std::string messages = kTop + "\\Outlook\\Messages\\";
    const auto entries = ListArchive(Archive());
    EXPECT_FALSE(Contains(entries, messages + "Outlook.pst"));
    EXPECT_TRUE(Contains(entries, messages + "Archives\\archive.pst"));
    EXPECT_TRUE(Contains(entries, kTop + "\\summary.txt"));
}

TEST_F(WrenmarkTest, AnArchiveWithoutItsKeysLeavesTheCurrentOnesAsTheyWere) {
    ASSERT_TRUE(mailfixture::AddOutlookProfile(profile.Path(), kLegacy, "Outlook", 4));
    StartPlugIn();
    const std::string saved = BackupProfile(0, "saved.vlb"), damaged = profile / "damaged.vlb";
    const std::string ntTree = KeyOf(ProfileKey(kNt, "Outlook")), legacyTree = KeyOf(ProfileKey(kLegacy, "Outlook"));
    ASSERT_NE(ntTree, legacyTree);
    ASSERT_TRUE(DeleteFileA((DataFolder() + "\\outcmd.dat").c_str()));
    // A profile key the registry refuses, then one the archive lacks: no root
    // changes, and the profile's items wait for its key.
    const std::string identity = kTop + "\\Outlook\\Identity.txt";
    for (const char* content : {"WINE REGISTRY damaged\n\x01\x02", static_cast<const char*>(nullptr)}) {
        ASSERT_TRUE(RewriteArchive(saved, damaged, {{identity, content}}));
        EXPECT_EQ(0, RestoreEverything(damaged));
        EXPECT_EQ(ntTree, KeyOf(ProfileKey(kNt, "Outlook")));
        EXPECT_EQ(legacyTree, KeyOf(ProfileKey(kLegacy, "Outlook")));
        EXPECT_FALSE(FileExistsAt(DataFolder() + "\\outcmd.dat"));
    }
}

TEST_F(WrenmarkTest, WithoutAnAccountKeyTheBackupSucceedsAndItsRestoreKeepsTheCurrentKey) {
    ASSERT_EQ(ERROR_SUCCESS, SHDeleteKeyA(HKEY_CURRENT_USER, mailfixture::kOutlookAccountsKey));
    StartPlugIn();
    EnableAll();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    const auto entries = ListArchive(Archive());
    EXPECT_TRUE(Contains(entries, kTop + "\\Outlook\\Accounts\\"));
    EXPECT_FALSE(Contains(entries, kTop + "\\Outlook\\Accounts\\Account.txt"));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, std::string(mailfixture::kOutlookAccountsKey) + "\\Accounts\\00000001",
                          "Account Name", "set up later"));
    const std::string accounts = KeyOf(mailfixture::kOutlookAccountsKey);
    ASSERT_EQ(1, RestoreEverything(Archive())) << NewLog();
    EXPECT_EQ(accounts, KeyOf(mailfixture::kOutlookAccountsKey));
}

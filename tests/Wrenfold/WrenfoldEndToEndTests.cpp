// Backup and restore of the synthetic Outlook Express installation through
// the real plug-in's exports.
#include <windows.h>

#include "WrenfoldHarness.h"

using namespace testsupport;
using mailfixture::OEIdentity;

namespace {
const std::string kTop = "Outlook Express";

std::string IdentityFolder(const OEIdentity& identity) { return kTop + "\\" + identity.id + "$" + identity.userName; }
std::string KeyOf(const OEIdentity& identity) { return DumpKeyTree(HKEY_CURRENT_USER, "Identities\\" + identity.id); }
}  // namespace

TEST_F(WrenfoldTest, BackupWritesTheSelectedEntriesInOrderAndNothingElse) {
    StartPlugIn();
    ASSERT_EQ(3u, BackupList().size());
    // Main Identity whole; Alice without her items; Bob's items under his
    // identity left unselected.
    Find(BackupList(), "Main Identity")->Enable();
    CBackupIdentity* alice = Find(BackupList(), "Alice Martin");
    alice->Enable();
    for (CBackupItem* item : *alice->GetItems()) item->Disable();
    for (CBackupItem* item : *Find(BackupList(), "Bob Okafor")->GetItems()) item->Enable();
    const std::string mainStore = mailfixture::ExpandedStoreFolder(profile.Path(), Identity("Main Identity"));
    ASSERT_TRUE(SetFileAttributesA((mainStore + "\\Archive\\Inbox.dbx").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();

    std::vector<std::string> expected = {kTop + "\\"};
    for (CBackupIdentity* identity : BackupList()) {   // list order is the registry's
        if (!identity->IsEnabled()) continue;
        const OEIdentity& fixture = Identity(identity->GetName());
        const std::string folder = IdentityFolder(fixture);
        expected.insert(expected.end(), {folder + "\\", folder + "\\Identity.txt"});
        if (identity == alice) continue;
        expected.push_back(folder + "\\Messages\\");
        AppendStoreEntries(mailfixture::ExpandedStoreFolder(profile.Path(), fixture), folder + "\\Messages", expected);
        expected.insert(expected.end(), {folder + "\\Accounts\\", folder + "\\Accounts\\Accounts.txt"});
    }
    const std::string wab = mailfixture::WabPath(profile.Path());
    expected.insert(expected.end(), {kTop + "\\AddressBook\\", kTop + "\\AddressBook\\" + wab.substr(wab.rfind('\\') + 1),
                                     kTop + "\\AddressBook\\WAB.txt", kTop + "\\summary.txt"});
    EXPECT_EQ(expected, ListArchive(Archive()));
    EXPECT_TRUE(Contains(expected, IdentityFolder(Identity("Main Identity")) + "\\Messages\\Archive\\Inbox.dbx"));
    // Nothing of the staging (a read-only file included) or the temporary
    // archive stays behind.
    EXPECT_EQ(std::vector<std::string>{"Outlook Express.vlb"}, Listing(target.Path()));
}

TEST_F(WrenfoldTest, RestoreAfterRemovalBringsBackEveryKeyAndFileWhateverTheUserNames) {
    // Besides the usual identities: user names with "$", empty, or equal to
    // an item's folder name.
    const std::string root = "%UserProfile%\\Stores\\";
    const std::vector<OEIdentity> awkward = {{"{0A000000-0000-0000-0000-000000000001}", "Pay$roll Messages", root + "one"},
                                             {"{0A000000-0000-0000-0000-000000000002}", "Accounts", root + "two"},
                                             {"{0A000000-0000-0000-0000-000000000003}", "", root + "three"}};
    for (size_t i = 0; i < awkward.size(); ++i) ASSERT_TRUE(mailfixture::AddIdentity(profile.Path(), awkward[i], 11 + i));
    ASSERT_EQ(ERROR_SUCCESS, SHDeleteValueA(HKEY_CURRENT_USER, ("Identities\\" + awkward[2].id).c_str(), "Username"));
    StartPlugIn();
    EnableAll();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    const std::string before = mailfixture::Snapshot(profile.Path());
    const auto stores = ReadTree(profile / "Stores");

    std::vector<OEIdentity> all = mailfixture::Identities();
    all.insert(all.end(), awkward.begin(), awkward.end());
    for (const OEIdentity& identity : all) ASSERT_TRUE(mailfixture::RemoveIdentity(profile.Path(), identity));
    SHDeleteKeyA(HKEY_CURRENT_USER, mailfixture::kSharedAccountsKey);
    ASSERT_TRUE(DeleteFileA(mailfixture::WabPath(profile.Path()).c_str()));
    ASSERT_NE(before, mailfixture::Snapshot(profile.Path()));

    ASSERT_EQ(1, RestoreEverything(Archive())) << NewLog();
    EXPECT_EQ(before, mailfixture::Snapshot(profile.Path()));
    EXPECT_EQ(stores, ReadTree(profile / "Stores"));
}

TEST_F(WrenfoldTest, SameNameIdentityIsReplacedOnlyAfterTheArchivedOneIsBack) {
    const OEIdentity& alice = Identity("Alice Martin");
    StartPlugIn();
    Find(BackupList(), "Alice Martin")->Enable();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    const std::string aliceTree = KeyOf(alice);
    const std::string damaged = profile / "damaged.vlb";
    ASSERT_TRUE(RewriteArchive(Archive(), damaged, {{IdentityFolder(alice) + "\\Identity.txt", "WINE REGISTRY damaged\n\x01\x02"}}));

    // Now the system holds two other identities named Alice Martin, and Bob.
    ASSERT_TRUE(mailfixture::RemoveIdentity(profile.Path(), alice));
    const OEIdentity first = {"{11111111-2222-3333-4444-555555555555}", "Alice Martin", alice.storeRoot};
    const OEIdentity second = {"{66666666-7777-8888-9999-AAAAAAAAAAAA}", "Alice Martin", alice.storeRoot};
    ASSERT_TRUE(mailfixture::AddIdentity(profile.Path(), first, 7));
    ASSERT_TRUE(mailfixture::AddIdentity(profile.Path(), second, 8));
    const std::string firstTree = KeyOf(first), secondTree = KeyOf(second), bobTree = KeyOf(Identity("Bob Okafor"));

    // A key the registry refuses: the user keeps the identity in use.
    EXPECT_EQ(0, RestoreEverything(damaged));
    EXPECT_NE(std::string::npos, NewLog().find("Failed to store Identity registry key."));
    EXPECT_EQ(firstTree, KeyOf(first));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Identities\\" + alice.id));

    ASSERT_EQ(1, RestoreEverything(Archive())) << NewLog();
    EXPECT_EQ(aliceTree, KeyOf(alice));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Identities\\" + first.id));   // the first of that name only
    EXPECT_EQ(secondTree, KeyOf(second));
    EXPECT_EQ(bobTree, KeyOf(Identity("Bob Okafor")));
}

TEST_F(WrenfoldTest, AccountsComeFromTheSharedKeyOrElseTheIdentitysOwn) {
    const OEIdentity& bob = Identity("Bob Okafor");
    const std::string own = "Identities\\" + bob.id + "\\" + mailfixture::kSharedAccountsKey;
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, own + "\\00000001", "Account Name", "bob only"));
    SHDeleteKeyA(HKEY_CURRENT_USER, mailfixture::kSharedAccountsKey);
    const std::string ownTree = DumpKeyTree(HKEY_CURRENT_USER, own);
    StartPlugIn();
    Find(BackupList(), "Bob Okafor")->Enable();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();

    // While there is no shared key, the identity's own key comes back.
    ASSERT_EQ(ERROR_SUCCESS, SHDeleteKeyA(HKEY_CURRENT_USER, ("Identities\\" + bob.id).c_str()));
    ASSERT_EQ(1, RestoreEverything(Archive())) << NewLog();
    EXPECT_EQ(ownTree, DumpKeyTree(HKEY_CURRENT_USER, own));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, mailfixture::kSharedAccountsKey));

    // Once a shared key exists, it is the one replaced.
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, std::string(mailfixture::kSharedAccountsKey) + "\\00000009", "Account Name", "x"));
    ASSERT_EQ(1, RestoreEverything(Archive())) << NewLog();
    EXPECT_EQ(ownTree, DumpKeyTree(HKEY_CURRENT_USER, mailfixture::kSharedAccountsKey));
}

TEST_F(WrenfoldTest, FailedBackupsAreReportedAndKeepThePreviousArchiveAndTheUsersFiles) {
    const OEIdentity& main = Identity("Main Identity");
    const std::string store = mailfixture::ExpandedStoreFolder(profile.Path(), main), inbox = store + "\\Inbox.dbx";
    // A folder of the staging folder's name is the user's.
    ASSERT_TRUE(MakeDirs(target / "Outlook Express\\Inbox"));
    ASSERT_TRUE(WriteFileBytes(target / "Outlook Express\\Inbox\\mine.dbx", "user data"));
    StartPlugIn();
    Find(BackupList(), "Main Identity")->Enable();
    EXPECT_EQ(0, Backup(target / "missing"));
    EXPECT_FALSE(DirExistsAt(target / "missing"));

    // A locked message file is reported and missing; the rest is kept.
    {
        CHandle lock = LockFile(inbox);
        ASSERT_TRUE(lock.IsValid());
        EXPECT_EQ(0, Backup(target.Path()));
    }
    EXPECT_NE(std::string::npos, NewLog().find("The file " + inbox + " could not be read and is missing from the backup."));
    const std::string messages = IdentityFolder(main) + "\\Messages";
    std::vector<std::string> files;
    AppendStoreEntries(store, messages, files);
    const auto entries = ListArchive(Archive());
    for (const std::string& file : files) EXPECT_EQ(file != messages + "\\Inbox.dbx", Contains(entries, file)) << file;
    EXPECT_TRUE(Contains(entries, kTop + "\\summary.txt"));

    // Over an existing archive, an incomplete one goes beside it; one that
    // cannot be replaced stays as it was.
    std::string previous, now, mine;
    ASSERT_TRUE(ReadFileBytes(Archive(), previous));
    {
        CHandle lock = LockFile(inbox);
        EXPECT_EQ(0, Backup(target.Path()));
    }
    EXPECT_TRUE(FileExistsAt(target / "Outlook Express (incomplete).vlb"));
    {
        CHandle held = LockFile(Archive());
        ASSERT_TRUE(held.IsValid());
        EXPECT_EQ(0, Backup(target.Path()));
    }
    ASSERT_TRUE(ReadFileBytes(Archive(), now));
    EXPECT_TRUE(previous == now) << "the previous archive changed";
    EXPECT_TRUE(ReadFileBytes(target / "Outlook Express\\Inbox\\mine.dbx", mine) && mine == "user data");
    EXPECT_EQ((std::vector<std::string>{"Outlook Express", "Outlook Express (incomplete).vlb", "Outlook Express.vlb"}),
              Listing(target.Path()));
}

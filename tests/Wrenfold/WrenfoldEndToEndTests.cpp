// Backup and restore of the synthetic Outlook Express installation through
// the real plug-in's exports.
#include <windows.h>

#include "WrenfoldHarness.h"

#include <algorithm>

#include "Unzipper.h"
#include "Zipper.h"

using namespace testsupport;

namespace {
const char* const kTop = "Outlook Express";

std::string IdentityFolder(const mailfixture::OEIdentity& identity) {
    return std::string(kTop) + "\\" + identity.id + "$" + identity.userName;
}

std::string WabName(const std::string& profile) {
    std::string path = mailfixture::WabPath(profile);
    return path.substr(path.rfind('\\') + 1);
}

std::vector<std::string> Names(const std::vector<ArchiveEntry>& entries) {
    std::vector<std::string> names;
    for (const ArchiveEntry& entry : entries) names.push_back(entry.name);
    return names;
}

bool Contains(const std::vector<ArchiveEntry>& entries, const std::string& name) {
    for (const ArchiveEntry& entry : entries)
        if (entry.name == name) return true;
    return false;
}

// Files of the target folder, hidden ones included.
std::vector<std::string> FolderListing(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& file : ReadTree(folder)) names.push_back(file.first);
    return names;
}
}  // namespace

TEST_F(WrenfoldTest, BackupOfTwoIdentitiesWritesTheEntryTreeInOrder) {
    StartPlugIn();
    const auto& alice = Identity("Alice Martin");
    const auto& main = Identity("Main Identity");
    ASSERT_EQ(3u, BackupList().size());
    for (CBackupIdentity* identity : BackupList()) {
        ASSERT_EQ(2u, identity->GetItems()->size());
        EXPECT_EQ("Messages", (*identity->GetItems())[0]->GetName());
        EXPECT_EQ("Accounts", (*identity->GetItems())[1]->GetName());
        if (identity->GetName() != "Bob Okafor") identity->Enable();
    }
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();

    std::vector<ArchiveEntry> expected = {{std::string(kTop) + "\\", true}};
    for (CBackupIdentity* identity : BackupList()) {   // list order is the registry's
        if (!identity->IsEnabled()) continue;
        const auto& fixture = Identity(identity->GetName());
        std::string folder = IdentityFolder(fixture);
        expected.push_back({folder + "\\", true});
        expected.push_back({folder + "\\Identity.txt", false});
        expected.push_back({folder + "\\Messages\\", true});
        AppendStoreEntries(mailfixture::ExpandedStoreFolder(profile.Path(), fixture), folder + "\\Messages", expected);
        expected.push_back({folder + "\\Accounts\\", true});
        expected.push_back({folder + "\\Accounts\\Accounts.txt", false});
    }
    expected.push_back({std::string(kTop) + "\\AddressBook\\", true});
    expected.push_back({std::string(kTop) + "\\AddressBook\\" + WabName(profile.Path()), false});
    expected.push_back({std::string(kTop) + "\\AddressBook\\WAB.txt", false});
    expected.push_back({std::string(kTop) + "\\summary.txt", false});
    EXPECT_EQ(expected, ListArchive(Archive()));
    EXPECT_TRUE(Contains(expected, IdentityFolder(alice) + "\\Messages\\Archive\\Inbox.dbx"));
    EXPECT_TRUE(Contains(expected, IdentityFolder(main) + "\\Messages\\Inbox.dbx"));

    // Nothing of the staging or the temporary archive stays behind.
    EXPECT_EQ(std::vector<std::string>{"Outlook Express.vlb"}, FolderListing(target.Path()));
}

TEST_F(WrenfoldTest, RestoreAfterRemovalBringsBackEveryKeyAndFile) {
    StartPlugIn();
    EnableAll();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    const std::string before = mailfixture::Snapshot(profile.Path());

    for (const auto& identity : mailfixture::Identities()) ASSERT_TRUE(mailfixture::RemoveIdentity(profile.Path(), identity));
    SHDeleteKeyA(HKEY_CURRENT_USER, mailfixture::kSharedAccountsKey);
    ASSERT_TRUE(DeleteFileA(mailfixture::WabPath(profile.Path()).c_str()));
    ASSERT_NE(before, mailfixture::Snapshot(profile.Path()));

    StopPlugIn();
    StartPlugIn();
    EXPECT_TRUE(BackupList().empty());
    ASSERT_EQ(1, InitRestore(Archive())) << NewLog();
    ASSERT_EQ(3u, RestoreList().size());
    for (CBackupIdentity* identity : RestoreList()) {
        ASSERT_EQ(2u, identity->GetItems()->size()) << identity->GetName();
        EXPECT_FALSE(identity->IsEnabled());
    }
    EnableAll();
    ASSERT_EQ(1, Restore()) << NewLog();
    EXPECT_EQ(before, mailfixture::Snapshot(profile.Path()));
    // The sub-folder's file of the same name as a store file came back in place.
    const auto& bob = Identity("Bob Okafor");
    std::string store = mailfixture::ExpandedStoreFolder(profile.Path(), bob);
    std::string inbox, archived;
    ASSERT_TRUE(ReadFileBytes(store + "\\Inbox.dbx", inbox));
    ASSERT_TRUE(ReadFileBytes(store + "\\Archive\\Inbox.dbx", archived));
    EXPECT_NE(inbox, archived);
}

TEST_F(WrenfoldTest, SelectionDecidesWhatIsWritten) {
    StartPlugIn();
    CBackupIdentity* alice = Find(BackupList(), "Alice Martin");
    CBackupIdentity* bob = Find(BackupList(), "Bob Okafor");
    ASSERT_TRUE(alice && bob);
    // Items enabled under a disabled identity: nothing of it.
    for (CBackupItem* item : *bob->GetItems()) item->Enable();
    EXPECT_FALSE(bob->IsEnabled());
    // An enabled identity without items: its folder and Identity.txt only.
    alice->Enable();
    for (CBackupItem* item : *alice->GetItems()) item->Disable();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    std::string folder = IdentityFolder(Identity("Alice Martin"));
    std::vector<std::string> expected = {std::string(kTop) + "\\", folder + "\\", folder + "\\Identity.txt",
                                         std::string(kTop) + "\\AddressBook\\",
                                         std::string(kTop) + "\\AddressBook\\" + WabName(profile.Path()),
                                         std::string(kTop) + "\\AddressBook\\WAB.txt",
                                         std::string(kTop) + "\\summary.txt"};
    EXPECT_EQ(expected, Names(ListArchive(Archive())));
}

TEST_F(WrenfoldTest, NoIdentitySelectedStillBacksUpAndRestoresTheAddressBook) {
    StartPlugIn();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    std::vector<std::string> expected = {std::string(kTop) + "\\", std::string(kTop) + "\\AddressBook\\",
                                         std::string(kTop) + "\\AddressBook\\" + WabName(profile.Path()),
                                         std::string(kTop) + "\\AddressBook\\WAB.txt",
                                         std::string(kTop) + "\\summary.txt"};
    EXPECT_EQ(expected, Names(ListArchive(Archive())));

    std::string wab = mailfixture::WabPath(profile.Path()), original;
    ASSERT_TRUE(ReadFileBytes(wab, original));
    ASSERT_TRUE(WriteFileBytes(wab, "changed since the backup"));
    ASSERT_EQ(1, InitRestore(Archive())) << NewLog();
    EXPECT_TRUE(RestoreList().empty());
    ASSERT_EQ(1, Restore()) << NewLog();
    std::string restored;
    ASSERT_TRUE(ReadFileBytes(wab, restored));
    EXPECT_EQ(original, restored);
}

TEST_F(WrenfoldTest, SameNameIdentityIsReplacedOnlyAfterTheArchivedOneIsBack) {
    const auto& alice = Identity("Alice Martin");
    StartPlugIn();
    Find(BackupList(), "Alice Martin")->Enable();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    const std::string aliceTree = DumpKeyTree(HKEY_CURRENT_USER, "Identities\\" + alice.id);
    StopPlugIn();

    // Now the system holds two other identities named Alice Martin, and Bob.
    ASSERT_TRUE(mailfixture::RemoveIdentity(profile.Path(), alice));
    mailfixture::OEIdentity first = {"{11111111-2222-3333-4444-555555555555}", "Alice Martin", alice.storeRoot};
    mailfixture::OEIdentity second = {"{66666666-7777-8888-9999-AAAAAAAAAAAA}", "Alice Martin", alice.storeRoot};
    ASSERT_TRUE(mailfixture::AddIdentity(profile.Path(), first, 7));
    ASSERT_TRUE(mailfixture::AddIdentity(profile.Path(), second, 8));
    const std::string bobTree = DumpKeyTree(HKEY_CURRENT_USER, "Identities\\" + Identity("Bob Okafor").id);
    const std::string secondTree = DumpKeyTree(HKEY_CURRENT_USER, "Identities\\" + second.id);

    StartPlugIn();
    ASSERT_EQ(1, InitRestore(Archive())) << NewLog();
    ASSERT_EQ(1u, RestoreList().size());
    EXPECT_EQ("Alice Martin", RestoreList()[0]->GetName());
    EnableAll();
    ASSERT_EQ(1, Restore()) << NewLog();
    EXPECT_EQ(aliceTree, DumpKeyTree(HKEY_CURRENT_USER, "Identities\\" + alice.id));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Identities\\" + first.id));   // the first of that name
    EXPECT_EQ(secondTree, DumpKeyTree(HKEY_CURRENT_USER, "Identities\\" + second.id));
    EXPECT_EQ(bobTree, DumpKeyTree(HKEY_CURRENT_USER, "Identities\\" + Identity("Bob Okafor").id));
}

TEST_F(WrenfoldTest, UserNamesWithDollarEmptyOrEndingInAFolderNameComeBackUnchanged) {
    // Start from a system whose only identities carry awkward names.
    for (const auto& identity : mailfixture::Identities()) ASSERT_TRUE(mailfixture::RemoveIdentity(profile.Path(), identity));
    const std::string root = "%UserProfile%\\Stores\\";
    std::vector<mailfixture::OEIdentity> awkward = {
        {"{0A000000-0000-0000-0000-000000000001}", "Pay$roll Messages", root + "one"},
        {"{0A000000-0000-0000-0000-000000000002}", "Accounts", root + "two"},
        {"{0A000000-0000-0000-0000-000000000003}", "", root + "three"}};
    std::string before;
    for (size_t i = 0; i < awkward.size(); ++i) {
        ASSERT_TRUE(mailfixture::AddIdentity(profile.Path(), awkward[i], static_cast<int>(i) + 11));
        if (awkward[i].userName.empty())
            ASSERT_EQ(ERROR_SUCCESS, SHDeleteValueA(HKEY_CURRENT_USER, ("Identities\\" + awkward[i].id).c_str(), "Username"));
        before += DumpKeyTree(HKEY_CURRENT_USER, "Identities\\" + awkward[i].id);
        for (const auto& file : ReadTree(mailfixture::ExpandedStoreFolder(profile.Path(), awkward[i]))) before += file.first + file.second;
    }
    StartPlugIn();
    EnableAll();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    for (const auto& identity : awkward) ASSERT_TRUE(mailfixture::RemoveIdentity(profile.Path(), identity));

    ASSERT_EQ(1, InitRestore(Archive())) << NewLog();
    std::vector<std::string> names;
    for (CBackupIdentity* identity : RestoreList()) {
        names.push_back(identity->GetName());
        EXPECT_EQ(2u, identity->GetItems()->size()) << identity->GetName();
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::string>{"", "Accounts", "Pay$roll Messages"}), names);
    EnableAll();
    ASSERT_EQ(1, Restore()) << NewLog();
    std::string after;
    for (const auto& identity : awkward) {
        after += DumpKeyTree(HKEY_CURRENT_USER, "Identities\\" + identity.id);
        for (const auto& file : ReadTree(mailfixture::ExpandedStoreFolder(profile.Path(), identity))) after += file.first + file.second;
    }
    EXPECT_EQ(before, after);
}

TEST_F(WrenfoldTest, AccountsComeFromTheSharedKeyOrElseTheIdentitysOwn) {
    const auto& bob = Identity("Bob Okafor");
    const std::string own = "Identities\\" + bob.id + "\\" + mailfixture::kSharedAccountsKey;
    const std::string shared = DumpKeyTree(HKEY_CURRENT_USER, mailfixture::kSharedAccountsKey);
    // Bob's accounts live in his identity while there is no shared key.
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, own + "\\00000001", "Account Name", "bob only"));
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, own + "\\00000001", "Connection Type", 3));
    SHDeleteKeyA(HKEY_CURRENT_USER, mailfixture::kSharedAccountsKey);
    const std::string ownTree = DumpKeyTree(HKEY_CURRENT_USER, own);
    StartPlugIn();
    Find(BackupList(), "Bob Okafor")->Enable();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();

    // Restore while the shared key is still absent: the identity's own key.
    ASSERT_EQ(ERROR_SUCCESS, SHDeleteKeyA(HKEY_CURRENT_USER, ("Identities\\" + bob.id).c_str()));
    ASSERT_EQ(1, InitRestore(Archive())) << NewLog();
    EnableAll();
    ASSERT_EQ(1, Restore()) << NewLog();
    EXPECT_EQ(ownTree, DumpKeyTree(HKEY_CURRENT_USER, own));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, mailfixture::kSharedAccountsKey));

    // Once a shared key exists, it is the one replaced.
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, std::string(mailfixture::kSharedAccountsKey) + "\\00000009",
                          "Account Name", "replaced"));
    ASSERT_EQ(1, Restore()) << NewLog();
    EXPECT_EQ(ownTree, DumpKeyTree(HKEY_CURRENT_USER, mailfixture::kSharedAccountsKey));
    EXPECT_NE(shared, ownTree);
}

TEST_F(WrenfoldTest, StoreRootIsExpandedForTheCurrentUser) {
    const auto& main = Identity("Main Identity");
    StartPlugIn();
    Find(BackupList(), "Main Identity")->Enable();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    const auto files = ReadTree(mailfixture::ExpandedStoreFolder(profile.Path(), main));

    ScratchFolder otherUser;
    SetEnvironmentVariableA("USERPROFILE", otherUser.Path().c_str());
    ASSERT_EQ(1, InitRestore(Archive())) << NewLog();
    EnableAll();
    ASSERT_EQ(1, Restore()) << NewLog();
    EXPECT_EQ(files, ReadTree(mailfixture::ExpandedStoreFolder(otherUser.Path(), main)));
}

TEST_F(WrenfoldTest, ALockedMessageFileIsMissingAndTheBackupFails) {
    const auto& main = Identity("Main Identity");
    std::string locked = mailfixture::ExpandedStoreFolder(profile.Path(), main) + "\\Inbox.dbx";
    StartPlugIn();
    Find(BackupList(), "Main Identity")->Enable();
    std::vector<ArchiveEntry> entries;
    {
        CHandle lock(CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(lock.IsValid());
        EXPECT_EQ(0, Backup(target.Path()));
    }
    entries = ListArchive(Archive());
    std::string messages = IdentityFolder(main) + "\\Messages\\";
    EXPECT_FALSE(Contains(entries, messages + "Inbox.dbx"));
    EXPECT_TRUE(Contains(entries, messages + "Sent Items.dbx"));
    EXPECT_TRUE(Contains(entries, messages + "Archive\\Inbox.dbx"));
    EXPECT_TRUE(Contains(entries, std::string(kTop) + "\\summary.txt"));
    EXPECT_NE(std::string::npos, NewLog().find("CopyFile call failed with 32."));

    // Over an existing archive, the incomplete one goes beside it.
    std::string previous;
    ASSERT_TRUE(ReadFileBytes(Archive(), previous));
    {
        CHandle lock(CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_EQ(0, Backup(target.Path()));
    }
    std::string now;
    ASSERT_TRUE(ReadFileBytes(Archive(), now));
    EXPECT_EQ(previous, now);
    EXPECT_TRUE(FileExistsAt(target / "Outlook Express (incomplete).vlb"));
}

TEST_F(WrenfoldTest, AFailingBackupTouchesNothingOfTheUsers) {
    StartPlugIn();
    EnableAll();
    // A target folder that does not exist is not created.
    EXPECT_EQ(0, Backup(target / "missing"));
    EXPECT_FALSE(DirExistsAt(target / "missing"));

    // A folder of the staging folder's name is the user's and survives.
    ASSERT_TRUE(MakeDirs(target / "Outlook Express\\Inbox"));
    ASSERT_TRUE(WriteFileBytes(target / "Outlook Express\\Inbox\\mine.dbx", "user data"));
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    std::string mine;
    EXPECT_TRUE(ReadFileBytes(target / "Outlook Express\\Inbox\\mine.dbx", mine));
    EXPECT_EQ("user data", mine);

    // An archive that cannot be replaced stays as it was, with no leftovers.
    std::string previous;
    ASSERT_TRUE(ReadFileBytes(Archive(), previous));
    {
        CHandle held(CreateFileA(Archive().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held.IsValid());
        EXPECT_EQ(0, Backup(target.Path()));
    }
    std::string now;
    ASSERT_TRUE(ReadFileBytes(Archive(), now));
    EXPECT_EQ(previous, now);
    EXPECT_EQ((std::vector<std::string>{"Outlook Express.vlb", "Outlook Express\\Inbox\\mine.dbx"}),
              FolderListing(target.Path()));
}

TEST_F(WrenfoldTest, ADamagedIdentityHiveLeavesTheCurrentIdentityIntact) {
    const auto& alice = Identity("Alice Martin");
    StartPlugIn();
    Find(BackupList(), "Alice Martin")->Enable();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();

    // The same archive with a damaged "Identity.txt".
    ScratchFolder unpacked;
    {
        CUnzipper unzipper;
        ASSERT_TRUE(unzipper.OpenArchive(Archive().c_str()));
        for (bool more = unzipper.GotoFirstEntry(); more; more = unzipper.GotoNextEntry())
            ASSERT_TRUE(unzipper.UnzipFile(unpacked.Path().c_str(), false));
    }
    ASSERT_TRUE(WriteFileBytes(unpacked / (IdentityFolder(alice) + "\\Identity.txt"), "WINE REGISTRY damaged\n\x01\x02"));
    ASSERT_TRUE(DeleteFileA(Archive().c_str()));
    {
        CZipper zipper(Archive().c_str(), unpacked.Path().c_str());
        ASSERT_TRUE(zipper.AddFolder((unpacked / kTop).c_str(), false));
        ASSERT_TRUE(zipper.CloseArchive());
    }

    // The user meanwhile uses another identity of that name.
    ASSERT_TRUE(mailfixture::RemoveIdentity(profile.Path(), alice));
    mailfixture::OEIdentity current = {"{12345678-1234-1234-1234-123456789ABC}", "Alice Martin", alice.storeRoot};
    ASSERT_TRUE(mailfixture::AddIdentity(profile.Path(), current, 9));
    const std::string currentTree = DumpKeyTree(HKEY_CURRENT_USER, "Identities\\" + current.id);
    StopPlugIn();
    StartPlugIn();
    ASSERT_EQ(1, InitRestore(Archive())) << NewLog();
    ASSERT_EQ(1u, RestoreList().size());
    EnableAll();
    EXPECT_EQ(0, Restore());
    EXPECT_EQ(currentTree, DumpKeyTree(HKEY_CURRENT_USER, "Identities\\" + current.id));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Identities\\" + alice.id));
    EXPECT_NE(std::string::npos, NewLog().find("Failed to store Identity registry key."));
}

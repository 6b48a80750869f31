// Backup and restore of the synthetic Outlook installation through the real
// Wrenmark plug-in's exports, and both mail clients through the host.
#include <windows.h>
#include <shlobj.h>

#include <algorithm>

#include "EngineHost.h"
#include "EnginePlugIn.h"
#include "ORRegistryUtil.h"
#include "WrenfoldHarness.h"

using namespace testsupport;

namespace {
const std::string kTop = "Outlook";
const char* const kNt = mailfixture::kOutlookProfilesKey;
const char* const kLegacy = mailfixture::kOutlookLegacyProfilesKey;
const std::string kAccounts = mailfixture::kOutlookAccountsKey;

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
    ASSERT_EQ(ERROR_SUCCESS, SHDeleteKeyA(HKEY_CURRENT_USER, kAccounts.c_str()));
    ASSERT_TRUE(RemoveTree(DataFolder()));
    ASSERT_EQ(1, RestoreEverything(Archive())) << NewLog();
    EXPECT_EQ(before, mailfixture::Snapshot(profile.Path()));
    EXPECT_EQ(files, ReadTree(DataFolder()));   // byte for byte, the sub-folder's file in its sub-folder
}

TEST_F(WrenmarkTest, BothRootsAreListedAndARestoreGoesUnderTheFirstRootThatExists) {
    ASSERT_TRUE(mailfixture::AddOutlookProfile(profile.Path(), kLegacy, "Outlook", 1));
    ASSERT_TRUE(mailfixture::AddOutlookProfile(profile.Path(), kLegacy, "Travel", 2));
    const std::string travel = KeyOf(ProfileKey(kLegacy, "Travel"));
    StartPlugIn();
    // The first root's profiles first; a name under both roots once.
    std::vector<std::string> names;
    for (CBackupIdentity* identity : BackupList()) names.push_back(identity->GetName());
    ASSERT_EQ((std::vector<std::string>{"Outlook", "Travel"}), names);
    const std::string archive = BackupProfile(1, "travel.vlb");

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
    ASSERT_EQ(ERROR_SUCCESS, SHDeleteKeyA(HKEY_CURRENT_USER, kAccounts.c_str()));
    StartPlugIn();
    EnableAll();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    EXPECT_NE(std::string::npos, NewLog().find("Failed to backup account registry key."));
    const auto entries = ListArchive(Archive());
    EXPECT_TRUE(Contains(entries, kTop + "\\Outlook\\Accounts\\"));
    EXPECT_FALSE(Contains(entries, kTop + "\\Outlook\\Accounts\\Account.txt"));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kAccounts + "\\Accounts\\00000001", "Account Name", "set up later"));
    const std::string accounts = KeyOf(kAccounts);
    ASSERT_EQ(1, RestoreEverything(Archive())) << NewLog();
    EXPECT_NE(std::string::npos, NewLog().find("Account registry file is not found."));
    EXPECT_EQ(accounts, KeyOf(kAccounts));
}

// One account key for all profiles: the profile restored last decides it.
TEST_F(WrenmarkTest, TheAccountKeyEndsAsStoredByTheProfileRestoredLast) {
    ASSERT_TRUE(mailfixture::AddOutlookProfile(profile.Path(), kNt, "Second", 3));
    const std::string olderTree = KeyOf(kAccounts), olderFile = profile / "older.txt";
    std::string older, last;
    ASSERT_TRUE(ORRegistryUtil::SaveRegKeyPath(HKEY_CURRENT_USER, kAccounts.c_str(), olderFile.c_str()) &&
                ReadFileBytes(olderFile, older));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kAccounts + "\\Accounts\\00000002", "Account Name", "pop.example.net"));
    StartPlugIn();
    EnableAll();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    // Both profiles in one archive, the one restored last with the older key.
    int profiles = 0;
    for (const std::string& name : ListArchive(Archive()))
        if (name.size() > 12 && name.compare(name.size() - 12, 12, "\\Account.txt") == 0) last = name, ++profiles;
    ASSERT_EQ(2, profiles);
    ASSERT_TRUE(RewriteArchive(Archive(), profile / "both.vlb", {{last, older.c_str()}}));
    ASSERT_EQ(1, RestoreEverything(profile / "both.vlb")) << NewLog();
    EXPECT_EQ(olderTree, KeyOf(kAccounts));
}

// Both mail clients into one folder and back, in one run of the host.
TEST_F(WrenmarkTest, BothMailClientsBackUpIntoOneFolderAndRestoreFromIt) {
    const std::string before = mailfixture::Snapshot(profile.Path()), express = target / "Outlook Express.vlb";
    CEngineHost host(WinePath(VELMORA_HOME_DIR));
    ASSERT_EQ(2, host.GetPlugInCount());
    auto enableBoth = [&] { host.GetPlugIn(0)->Enable(), host.GetPlugIn(1)->Enable(); };
    ASSERT_EQ(1, host.InitBackup());
    enableBoth();
    ASSERT_EQ(1, host.Backup(target.Path())) << NewLog();
    ASSERT_EQ(1, host.UninitBackup());

    for (const auto& identity : mailfixture::Identities()) ASSERT_TRUE(mailfixture::RemoveIdentity(profile.Path(), identity));
    for (const std::string& key : {std::string(mailfixture::kSharedAccountsKey), ProfileKey(kNt, "Outlook"), kAccounts})
        ASSERT_EQ(ERROR_SUCCESS, SHDeleteKeyA(HKEY_CURRENT_USER, key.c_str())) << key;
    ASSERT_TRUE(DeleteFileA(mailfixture::WabPath(profile.Path()).c_str()) && RemoveTree(DataFolder()));
    ASSERT_EQ(1, host.InitRestore("Outlook Express", express));
    ASSERT_EQ(1, host.InitRestore("Outlook", Archive()));
    enableBoth();
    ASSERT_EQ(1, host.Restore()) << NewLog();
    EXPECT_EQ(before, mailfixture::Snapshot(profile.Path()));
    host.UninitRestore();
}

// Without folder entries (as many zip tools write) every file still reaches
// its profile and item: the same list, the same restore.
TEST_F(WrenmarkTest, AnArchiveWithoutFolderEntriesRestoresAsTheOriginal) {
    ASSERT_TRUE(mailfixture::AddOutlookProfile(profile.Path(), kNt, "Second", 3));
    StartPlugIn();
    EnableAll();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    const std::string before = mailfixture::Snapshot(profile.Path());
    const auto files = ReadTree(DataFolder());
    std::vector<ArchiveEntry> fileEntries;
    for (const ArchiveEntry& entry : ReadArchiveEntries(Archive()))
        if (!entry.IsFolder()) fileEntries.push_back(entry);
    ASSERT_TRUE(WriteArchiveEntries(target / "files.vlb", fileEntries));
    const std::vector<std::string> catalogue = CatalogueOf(Archive());
    EXPECT_EQ((std::vector<std::string>{"Outlook", "  Accounts", "  Messages", "Second", "  Accounts", "  Messages"}),
              catalogue);
    EXPECT_EQ(catalogue, CatalogueOf(target / "files.vlb"));

    for (const char* name : {"Outlook", "Second"})
        ASSERT_EQ(ERROR_SUCCESS, SHDeleteKeyA(HKEY_CURRENT_USER, ProfileKey(kNt, name).c_str()));
    ASSERT_EQ(ERROR_SUCCESS, SHDeleteKeyA(HKEY_CURRENT_USER, kAccounts.c_str()));
    ASSERT_TRUE(RemoveTree(DataFolder()));
    ASSERT_EQ(1, RestoreEverything(target / "files.vlb")) << NewLog();
    EXPECT_EQ(before, mailfixture::Snapshot(profile.Path()));
    EXPECT_EQ(files, ReadTree(DataFolder()));
}

// An entry that no item restores fails the restore of its profile and is
// named; a profile that is not selected does not count.
TEST_F(WrenmarkTest, EntriesThatNothingRestoresFailTheRestoreAndAreNamed) {
    ASSERT_TRUE(mailfixture::AddOutlookProfile(profile.Path(), kNt, "Second", 3));
    StartPlugIn();
    EnableAll();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    const std::string folder = kTop + "\\Outlook";
    std::vector<ArchiveEntry> entries = ReadArchiveEntries(Archive());
    const std::string strays[] = {folder + "\\notes.txt", folder + "\\Accounts\\old\\Account.txt",
                                  folder + "\\Accounts\\Account.bak", folder + "\\Other\\x.dat", folder + "\\Messages"};
    for (const std::string& stray : strays) entries.push_back({stray, "kept aside", entries.front().dosDate});
    ASSERT_TRUE(WriteArchiveEntries(target / "strays.vlb", entries));
    EXPECT_EQ(1, RestoreOnly(target / "strays.vlb", {"Second"})) << NewLog();
    EXPECT_EQ(std::string::npos, NewLog().find("belongs to nothing"));
    EXPECT_EQ(0, RestoreOnly(target / "strays.vlb", {"Outlook"}));
    const std::string log = NewLog();
    for (const std::string& stray : strays)
        EXPECT_EQ(1u, LinesWith(log, "The entry " + stray + " belongs to nothing that is restored").size()) << stray;
    // What the profile does hold is still put back.
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, ProfileKey(kNt, "Outlook")));
}

// A profile under both roots is archived once, from the first root, where a
// restore puts it back; the other root's key is named in the log as not saved.
TEST_F(WrenmarkTest, AProfileUnderBothRootsIsArchivedOnceFromTheFirstRoot) {
    ASSERT_TRUE(mailfixture::AddOutlookProfile(profile.Path(), kLegacy, "Outlook", 4));
    const std::string ntTree = KeyOf(ProfileKey(kNt, "Outlook"));
    StartPlugIn();
    ASSERT_EQ(1u, BackupList().size());
    EnableAll();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    std::vector<std::string> names = ListArchive(Archive());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names.end(), std::adjacent_find(names.begin(), names.end())) << "an entry archived twice";
    EXPECT_TRUE(std::binary_search(names.begin(), names.end(), kTop + "\\Outlook\\Identity.txt"));
    EXPECT_EQ(1u, LinesWith(NewLog(), "The profile key HKEY_CURRENT_USER\\" + ProfileKey(kLegacy, "Outlook") +
                                          " is not backed up").size()) << NewLog();

    ASSERT_EQ(ERROR_SUCCESS, SHDeleteKeyA(HKEY_CURRENT_USER, ProfileKey(kNt, "Outlook").c_str()));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, ProfileKey(kLegacy, "Outlook"), "changed", "x"));
    const std::string legacyNow = KeyOf(ProfileKey(kLegacy, "Outlook"));
    EXPECT_EQ(1, RestoreEverything(Archive())) << NewLog();
    EXPECT_EQ(ntTree, KeyOf(ProfileKey(kNt, "Outlook")));
    EXPECT_EQ(legacyNow, KeyOf(ProfileKey(kLegacy, "Outlook")));
}

// Older versions archived a profile under both roots twice under one folder
// name: one profile at restore, its first copy restored, the second named;
// copies of the same data lose nothing, another key under the same name fails.
TEST_F(WrenmarkTest, AProfileArchivedTwiceRestoresItsFirstCopyOnly) {
    ASSERT_TRUE(mailfixture::AddOutlookProfile(profile.Path(), kLegacy, "Outlook", 4));
    StartPlugIn();
    EnableAll();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    const std::string ntTree = KeyOf(ProfileKey(kNt, "Outlook"));
    ASSERT_NE(ntTree, KeyOf(ProfileKey(kLegacy, "Outlook")));
    const std::string identity = kTop + "\\Outlook\\Identity.txt";
    // Such an archive: the profile's entries again, the key as saved from
    // the second root, before the summary.
    std::vector<ArchiveEntry> twice = ReadArchiveEntries(Archive());
    std::vector<ArchiveEntry> copies;
    for (const ArchiveEntry& entry : twice)
        if (entry.name.compare(0, kTop.size() + 9, kTop + "\\Outlook\\") == 0) copies.push_back(entry);
    ASSERT_TRUE(ORRegistryUtil::SaveRegKeyPath(HKEY_CURRENT_USER, ProfileKey(kLegacy, "Outlook").c_str(),
                                               (profile / "legacy.hive").c_str()));
    for (ArchiveEntry& copy : copies)
        if (copy.name == identity) ASSERT_TRUE(ReadFileBytes(profile / "legacy.hive", copy.data));
    ASSERT_EQ(kTop + "\\summary.txt", twice.back().name);
    twice.insert(twice.end() - 1, copies.begin(), copies.end());
    ASSERT_TRUE(WriteArchiveEntries(target / "twice.vlb", twice));
    ASSERT_LE(2, std::count_if(twice.begin(), twice.end(), [&](const ArchiveEntry& e) { return e.name == identity; }));
    // Later copies of the profile's key under names that compare equal
    // ("/" for "\\", other case), the first with the first copy's data.
    std::vector<ArchiveEntry> same = twice, other = twice;
    bool first = true;
    for (size_t i = 0; i < twice.size(); ++i) {
        if (twice[i].name != identity) continue;
        if (!first) {
            same[i].data = EntryNamed(twice, identity).data, same[i].name = kTop + "\\OUTLOOK\\Identity.txt";
            other[i].name = kTop + "/Outlook/identity.TXT";
        }
        first = false;
    }
    ASSERT_TRUE(WriteArchiveEntries(target / "same.vlb", same) && WriteArchiveEntries(target / "other.vlb", other));

    for (const std::string name : {"same.vlb", "other.vlb", "twice.vlb"}) {
        SCOPED_TRACE(name);
        const bool differs = name != "same.vlb";
        const size_t seen = NewLog().size();
        EXPECT_EQ((std::vector<std::string>{"Outlook", "  Accounts", "  Messages"}), CatalogueOf(target / name));
        ASSERT_EQ(ERROR_SUCCESS, SHDeleteKeyA(HKEY_CURRENT_USER, ProfileKey(kNt, "Outlook").c_str()));
        ASSERT_TRUE(SetString(HKEY_CURRENT_USER, ProfileKey(kLegacy, "Outlook"), "changed", "x"));
        const std::string legacyNow = KeyOf(ProfileKey(kLegacy, "Outlook"));
        EXPECT_EQ(differs ? 0 : 1, RestoreEverything(target / name)) << NewLog();
        EXPECT_EQ(ntTree, KeyOf(ProfileKey(kNt, "Outlook")));   // the first copy, under the first root
        EXPECT_EQ(legacyNow, KeyOf(ProfileKey(kLegacy, "Outlook")));
        const std::string log = NewLog().substr(seen);
        EXPECT_EQ(differs ? 1u : 0u, LinesWith(log, " lands on the same file as " + identity).size()) << log;
        EXPECT_FALSE(LinesWith(log, "duplicates").empty()) << log;   // the data files, archived twice
    }
}

// The data folder is where Outlook's files go: the same check as every
// folder a restore writes into, whatever the user's settings name.
TEST_F(WrenmarkTest, ADataFolderOutsideOrdinaryFoldersRestoresNoFile) {
    StartPlugIn();
    EnableAll();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    auto special = [](int csidl) {
        char path[MAX_PATH] = {};
        EXPECT_TRUE(SHGetSpecialFolderPathA(nullptr, path, csidl, FALSE)) << csidl;
        return std::string(path);
    };
    // Relative names would resolve in the current folder: make it a scratch one.
    char current[MAX_PATH] = {};
    ASSERT_NE(0u, GetCurrentDirectoryA(MAX_PATH, current));
    ASSERT_TRUE(SetCurrentDirectoryA(profile.Path().c_str()));
    const std::string roots[] = {special(CSIDL_STARTUP), special(CSIDL_WINDOWS) + "\\Mail", special(CSIDL_SYSTEM),
                                 special(CSIDL_PROGRAM_FILES) + "\\Mail", "Mail", profile / "Mail\\..\\Mail",
                                 profile / "Mail.", profile / "AUX"};
    for (const std::string& root : roots) {
        SCOPED_TRACE(root);
        ASSERT_TRUE(SetString(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                              "Local AppData", root, REG_EXPAND_SZ));
        // The shell names only a folder that exists.
        const bool made = !DirExistsAt(root) && MakeDirs(root);
        const size_t seen = NewLog().size();
        EXPECT_EQ(0, RestoreEverything(Archive()));
        const std::string log = NewLog().substr(seen);
        EXPECT_EQ(1u, LinesWith(log, "Refused to restore messages into the data folder " + root + "\\Microsoft\\Outlook:").size()) << log;
        EXPECT_FALSE(LinesWith(log, "Failed to restore " + kTop + "\\Outlook\\Messages\\Outlook.pst").empty()) << log;
        EXPECT_FALSE(FileExistsAt(root + "\\Microsoft\\Outlook\\Outlook.pst"));
        if (made) EXPECT_TRUE(RemoveTree(root));
    }
    ASSERT_TRUE(SetCurrentDirectoryA(current));
}

// A restore over the live profile, whose data files changed and grew since
// the backup, then its undo: profile key, accounts key and data folder are
// as before the restore, the file the restore added included.
TEST_F(WrenmarkTest, UndoLeavesTheProfileAndItsDataAsBeforeTheRestore) {
    ClearUndoFolder();
    StartPlugIn();
    EnableAll();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    ASSERT_TRUE(WriteFileBytes(DataFolder() + "\\extend.dat", "changed since the backup"));
    ASSERT_TRUE(WriteFileBytes(DataFolder() + "\\today.pst", "made since the backup"));
    ASSERT_TRUE(DeleteFileA((DataFolder() + "\\outcmd.dat").c_str()));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kAccounts, "Changed", "yes"));
    const std::string before = mailfixture::Snapshot(profile.Path());
    const auto files = ReadTree(DataFolder());

    ASSERT_EQ(1, RestoreEverything(Archive())) << NewLog();
    ASSERT_NE(files, ReadTree(DataFolder()));
    const std::vector<std::string> undo = UndoArchives();
    ASSERT_EQ(1u, undo.size());
    EXPECT_EQ(0u, undo[0].find("Outlook 20")) << undo[0];
    ASSERT_EQ(1, RestoreEverything(UndoFolder() + "\\" + undo[0])) << NewLog();
    EXPECT_EQ(before, mailfixture::Snapshot(profile.Path()));
    EXPECT_EQ(files, ReadTree(DataFolder()));
    ClearUndoFolder();
}

// Where the first root refuses the profile's key (a volatile key takes no
// lasting sub-key), the restore writes it under the second root; the undo
// puts that root's key back as it was, and nothing stays under the first.
TEST_F(WrenmarkTest, UndoPutsBackTheProfileKeyARestoreWroteUnderTheSecondRoot) {
    ClearUndoFolder();
    StartPlugIn();
    EnableAll();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    const std::string archived = KeyOf(ProfileKey(kNt, "Outlook"));
    ASSERT_EQ(ERROR_SUCCESS, SHDeleteKeyA(HKEY_CURRENT_USER, kNt));
    HKEY created = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kNt, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                                             nullptr, &created, nullptr));
    CKey volatileRoot;
    volatileRoot.Attach(created);
    ASSERT_TRUE(mailfixture::AddOutlookProfile(profile.Path(), kLegacy, "Outlook", 4));
    const std::string before = mailfixture::Snapshot(profile.Path());

    RestoreEverything(Archive());
    ASSERT_EQ(archived, KeyOf(ProfileKey(kLegacy, "Outlook"))) << NewLog();
    ASSERT_FALSE(KeyExists(HKEY_CURRENT_USER, ProfileKey(kNt, "Outlook")));
    const std::vector<std::string> undo = UndoArchives();
    ASSERT_EQ(1u, undo.size());
    ASSERT_EQ(1, RestoreEverything(UndoFolder() + "\\" + undo[0])) << NewLog();
    EXPECT_EQ(before, mailfixture::Snapshot(profile.Path()));
    ClearUndoFolder();
}

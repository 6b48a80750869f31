// Backup and restore of the synthetic Outlook installation through the real
// Wrenmark plug-in's exports, and both mail clients through the host.
#include <windows.h>

#include <algorithm>
#include <map>

#include "EngineHost.h"
#include "EnginePlugIn.h"
#include "Unzipper.h"
#include "WrenfoldHarness.h"
#include "Zipper.h"

using namespace testsupport;

namespace {
const char* const kTop = "Outlook";

std::string ProfileKey(const char* root, const std::string& name) { return std::string(root) + "\\" + name; }

std::vector<std::string> Names(const std::vector<ArchiveEntry>& entries) {
    std::vector<std::string> names;
    for (const ArchiveEntry& entry : entries) names.push_back(entry.name);
    return names;
}

std::vector<std::string> NamesOf(IdentityList& list) {
    std::vector<std::string> names;
    for (CBackupIdentity* identity : list) names.push_back(identity->GetName());
    return names;
}

std::vector<std::string> ItemNames(CBackupIdentity& identity) {
    std::vector<std::string> names;
    for (CBackupItem* item : *identity.GetItems()) names.push_back(item->GetName());
    return names;
}

bool Contains(const std::vector<ArchiveEntry>& entries, const std::string& name) {
    for (const ArchiveEntry& entry : entries)
        if (entry.name == name) return true;
    return false;
}

// An entry of an existing archive, to be copied into a composed one.
struct EntryCopy {
    std::string archive;
    std::string name;
};

// The entries of an archive whose names start with prefix, in stored order.
std::vector<EntryCopy> EntriesOf(const std::string& archive, const std::string& prefix) {
    std::vector<EntryCopy> copies;
    for (const ArchiveEntry& entry : ListArchive(archive))
        if (entry.name.compare(0, prefix.size(), prefix) == 0) copies.push_back({archive, entry.name});
    return copies;
}

// Writes an archive of entries taken from other archives, in exactly this
// order; a file entry named in replaced gets that content instead.
bool ComposeArchive(const std::string& path, const std::vector<EntryCopy>& entries,
                    const std::map<std::string, std::string>& replaced = {}) {
    ScratchFolder staging;
    CZipper zipper;
    if (!zipper.OpenArchive(path.c_str(), staging.Path().c_str())) return false;
    for (const EntryCopy& entry : entries) {
        std::string local = staging / entry.name;
        if (local.back() == '\\') {
            local.pop_back();
            if (!MakeDirs(local) || !zipper.AddFolder(local.c_str(), false)) return false;
            continue;
        }
        auto content = replaced.find(entry.name);
        if (content != replaced.end()) {
            if (!WriteFileBytes(local, content->second)) return false;
        } else {
            CUnzipper unzipper;
            if (!unzipper.OpenArchive(entry.archive.c_str()) || !unzipper.GotoFile(entry.name.c_str(), false) ||
                !unzipper.UnzipFileTo(local.c_str()))
                return false;
        }
        if (!zipper.AddFile(local.c_str(), false)) return false;
    }
    return zipper.CloseArchive();
}

class WrenmarkTest : public MailPlugInTest {
protected:
    WrenmarkTest() : MailPlugInTest("Wrenmark", "Outlook") {}

    std::string DataFolder() const { return mailfixture::OutlookDataFolder(profile.Path()); }
    std::string PlugInName() {
        std::string name;
        reinterpret_cast<PFN_GetName>(plugIn.Proc("GetName"))(&name);
        return name;
    }
    // Backs up the profiles of the backup list at these positions into the
    // target folder and moves the archive to the given file.
    void BackupProfilesTo(const std::vector<size_t>& positions, const std::string& archive) {
        reinterpret_cast<PFN_Disable>(plugIn.Proc("Disable"))();
        for (size_t position : positions) BackupList().at(position)->Enable();
        ASSERT_EQ(1, Backup(target.Path())) << NewLog();
        ASSERT_TRUE(MoveFileExA(Archive().c_str(), archive.c_str(), MOVEFILE_REPLACE_EXISTING));
    }
    // Loads the plug-in afresh, catalogues the archive, restores all of it.
    int RestoreEverything(const std::string& archive) {
        StopPlugIn();
        StartPlugIn();
        if (InitRestore(archive) != 1) return -1;
        EnableAll();
        return Restore();
    }
};
}  // namespace

TEST_F(WrenmarkTest, ProfileBackupWritesItsTreeAndRestoreBringsEverythingBack) {
    const std::string profileKey = ProfileKey(mailfixture::kOutlookProfilesKey, mailfixture::kOutlookProfileName);
    StartPlugIn();
    EXPECT_EQ("Outlook", PlugInName());
    ASSERT_EQ(std::vector<std::string>{"Outlook"}, NamesOf(BackupList()));
    EXPECT_EQ((std::vector<std::string>{"Accounts", "Messages"}), ItemNames(*BackupList()[0]));
    EnableAll();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();

    const std::string folder = std::string(kTop) + "\\" + mailfixture::kOutlookProfileName;
    std::vector<ArchiveEntry> expected = {{std::string(kTop) + "\\", true},
                                          {folder + "\\", true},
                                          {folder + "\\Identity.txt", false},
                                          {folder + "\\Accounts\\", true},
                                          {folder + "\\Accounts\\Account.txt", false},
                                          {folder + "\\Messages\\", true}};
    AppendStoreEntries(DataFolder(), folder + "\\Messages", expected);
    expected.push_back({std::string(kTop) + "\\summary.txt", false});
    const std::vector<ArchiveEntry> entries = ListArchive(Archive());
    EXPECT_EQ(expected, entries);
    EXPECT_TRUE(Contains(entries, folder + "\\Messages\\Archives\\archive.pst"));
    EXPECT_TRUE(Contains(entries, folder + "\\Messages\\Outlook.pst"));

    // Profile, accounts and data files gone; the profile root itself stays.
    const std::string before = mailfixture::Snapshot(profile.Path());
    const auto files = ReadTree(DataFolder());
    ASSERT_EQ(ERROR_SUCCESS, SHDeleteKeyA(HKEY_CURRENT_USER, profileKey.c_str()));
    ASSERT_EQ(ERROR_SUCCESS, SHDeleteKeyA(HKEY_CURRENT_USER, mailfixture::kOutlookAccountsKey));
    ASSERT_TRUE(RemoveTree(DataFolder()));

    StopPlugIn();
    StartPlugIn();
    EXPECT_TRUE(BackupList().empty());
    ASSERT_EQ(1, InitRestore(Archive())) << NewLog();
    ASSERT_EQ(std::vector<std::string>{"Outlook"}, NamesOf(RestoreList()));
    EXPECT_EQ((std::vector<std::string>{"Accounts", "Messages"}), ItemNames(*RestoreList()[0]));
    EnableAll();
    ASSERT_EQ(1, Restore()) << NewLog();
    EXPECT_EQ(before, mailfixture::Snapshot(profile.Path()));
    EXPECT_EQ(files, ReadTree(DataFolder()));   // byte for byte, the sub-folder's file in its sub-folder
    EXPECT_FALSE(FileExistsAt(DataFolder() + "\\archive.pst"));
}

TEST_F(WrenmarkTest, BothRootsAreListedAndARestoreGoesUnderTheFirstRootThatExists) {
    const char* nt = mailfixture::kOutlookProfilesKey;
    const char* legacy = mailfixture::kOutlookLegacyProfilesKey;
    ASSERT_TRUE(mailfixture::AddOutlookProfile(profile.Path(), legacy, "Outlook", 1));
    ASSERT_TRUE(mailfixture::AddOutlookProfile(profile.Path(), legacy, "Travel", 2));
    const std::string travel = DumpKeyTree(HKEY_CURRENT_USER, ProfileKey(legacy, "Travel"));
    StartPlugIn();
    // The first root's profiles first; a profile under both roots twice.
    ASSERT_EQ((std::vector<std::string>{"Outlook", "Outlook", "Travel"}), NamesOf(BackupList()));
    const std::string archive = profile / "travel.vlb";
    BackupProfilesTo({2}, archive);

    // Both roots exist: the profile goes under the first only.
    ASSERT_EQ(1, RestoreEverything(archive)) << NewLog();
    EXPECT_EQ(travel, DumpKeyTree(HKEY_CURRENT_USER, ProfileKey(nt, "Travel")));
    EXPECT_EQ(travel, DumpKeyTree(HKEY_CURRENT_USER, ProfileKey(legacy, "Travel")));

    // Without the first root, under the second, replacing the profile there:
    // what only the current profile held is gone.
    ASSERT_EQ(ERROR_SUCCESS, SHDeleteKeyA(HKEY_CURRENT_USER, nt));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, ProfileKey(legacy, "Travel"), "added later", "x"));
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, ProfileKey(legacy, "Travel") + "\\0a0d020000000000c000000000000046",
                         "only now", 1));
    ASSERT_EQ(1, RestoreEverything(archive)) << NewLog();
    EXPECT_EQ(travel, DumpKeyTree(HKEY_CURRENT_USER, ProfileKey(legacy, "Travel")));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, nt));

    // With neither root there is nowhere to put it.
    ASSERT_EQ(ERROR_SUCCESS, SHDeleteKeyA(HKEY_CURRENT_USER, legacy));
    EXPECT_EQ(0, RestoreEverything(archive));
    EXPECT_NE(std::string::npos, NewLog().find("Failed to store Outlook Profile registry keys."));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, legacy));
}

TEST_F(WrenmarkTest, TheAccountKeyEndsAsStoredByTheProfileRestoredLast) {
    const char* nt = mailfixture::kOutlookProfilesKey;
    ASSERT_TRUE(mailfixture::AddOutlookProfile(profile.Path(), nt, "Second", 3));
    StartPlugIn();
    ASSERT_EQ(2u, BackupList().size());
    const size_t outlook = BackupList()[0]->GetName() == "Outlook" ? 0 : 1;
    const std::string first = profile / "first.vlb", second = profile / "second.vlb";
    const std::string accountsFirst = DumpKeyTree(HKEY_CURRENT_USER, mailfixture::kOutlookAccountsKey);
    BackupProfilesTo({outlook}, first);
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, std::string(mailfixture::kOutlookAccountsKey) + "\\Accounts\\00000002",
                          "Account Name", "pop.example.net"));
    const std::string accountsSecond = DumpKeyTree(HKEY_CURRENT_USER, mailfixture::kOutlookAccountsKey);
    BackupProfilesTo({1 - outlook}, second);

    // One archive holding both profiles, in either order.
    const std::string firstFolder = std::string(kTop) + "\\Outlook\\", secondFolder = std::string(kTop) + "\\Second\\";
    for (bool secondLast : {true, false}) {
        std::vector<EntryCopy> entries = {{first, std::string(kTop) + "\\"}};
        auto a = EntriesOf(first, firstFolder), b = EntriesOf(second, secondFolder);
        for (auto& part : secondLast ? std::vector<std::vector<EntryCopy>>{a, b} : std::vector<std::vector<EntryCopy>>{b, a})
            entries.insert(entries.end(), part.begin(), part.end());
        entries.push_back({first, std::string(kTop) + "\\summary.txt"});
        const std::string both = profile / "both.vlb";
        ASSERT_TRUE(ComposeArchive(both, entries));
        ASSERT_EQ(1, RestoreEverything(both)) << NewLog();
        ASSERT_EQ(2u, RestoreList().size());
        EXPECT_EQ(secondLast ? accountsSecond : accountsFirst,
                  DumpKeyTree(HKEY_CURRENT_USER, mailfixture::kOutlookAccountsKey))
            << (secondLast ? "Second" : "Outlook") << " restored last";
    }
}

TEST_F(WrenmarkTest, WithoutAnAccountKeyTheFolderStaysAndNothingIsReplaced) {
    ASSERT_EQ(ERROR_SUCCESS, SHDeleteKeyA(HKEY_CURRENT_USER, mailfixture::kOutlookAccountsKey));
    StartPlugIn();
    EnableAll();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    EXPECT_NE(std::string::npos, NewLog().find("Failed to backup account registry key."));
    const std::string accounts = std::string(kTop) + "\\Outlook\\Accounts\\";
    const auto entries = ListArchive(Archive());
    EXPECT_TRUE(Contains(entries, accounts));
    EXPECT_FALSE(Contains(entries, accounts + "Account.txt"));
    EXPECT_TRUE(Contains(entries, std::string(kTop) + "\\Outlook\\Messages\\Outlook.pst"));

    // The accounts set up since then are kept by a restore of that archive.
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, std::string(mailfixture::kOutlookAccountsKey) + "\\Accounts\\00000001",
                          "Account Name", "set up later"));
    const std::string current = DumpKeyTree(HKEY_CURRENT_USER, mailfixture::kOutlookAccountsKey);
    ASSERT_EQ(1, RestoreEverything(Archive())) << NewLog();
    EXPECT_NE(std::string::npos, NewLog().find("Account registry file is not found."));
    EXPECT_EQ(current, DumpKeyTree(HKEY_CURRENT_USER, mailfixture::kOutlookAccountsKey));
}

TEST_F(WrenmarkTest, ADataFileHeldOpenIsReportedAndTheBackupFails) {
    const std::string pst = DataFolder() + "\\Outlook.pst";
    StartPlugIn();
    EnableAll();
    {
        CHandle lock(CreateFileA(pst.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(lock.IsValid());
        EXPECT_EQ(0, Backup(target.Path()));
    }
    const std::string log = NewLog();
    EXPECT_NE(std::string::npos, log.find("CopyFile call failed with error = 32.")) << log;
    EXPECT_NE(std::string::npos, log.find(pst)) << log;
    // What could be read is kept, without the file it could not.
    const std::string messages = std::string(kTop) + "\\Outlook\\Messages\\";
    const auto entries = ListArchive(Archive());
    EXPECT_FALSE(Contains(entries, messages + "Outlook.pst"));
    EXPECT_TRUE(Contains(entries, messages + "Archives\\archive.pst"));
    EXPECT_TRUE(Contains(entries, std::string(kTop) + "\\summary.txt"));
}

TEST_F(WrenmarkTest, AProfileKeyTheRegistryRefusesLeavesEveryRootAsItWas) {
    const char* nt = mailfixture::kOutlookProfilesKey;
    const char* legacy = mailfixture::kOutlookLegacyProfilesKey;
    ASSERT_TRUE(mailfixture::AddOutlookProfile(profile.Path(), legacy, "Outlook", 4));
    StartPlugIn();
    const std::string saved = profile / "saved.vlb";
    BackupProfilesTo({0}, saved);

    // The same archive with a damaged "Identity.txt".
    const std::string identity = std::string(kTop) + "\\Outlook\\Identity.txt";
    const std::string damaged = profile / "damaged.vlb";
    ASSERT_TRUE(ComposeArchive(damaged, EntriesOf(saved, ""), {{identity, "WINE REGISTRY damaged\n\x01\x02"}}));
    const std::string ntTree = DumpKeyTree(HKEY_CURRENT_USER, ProfileKey(nt, "Outlook"));
    const std::string legacyTree = DumpKeyTree(HKEY_CURRENT_USER, ProfileKey(legacy, "Outlook"));
    ASSERT_NE(ntTree, legacyTree);
    ASSERT_TRUE(DeleteFileA((DataFolder() + "\\outcmd.dat").c_str()));

    EXPECT_EQ(0, RestoreEverything(damaged));
    EXPECT_EQ(ntTree, DumpKeyTree(HKEY_CURRENT_USER, ProfileKey(nt, "Outlook")));
    EXPECT_EQ(legacyTree, DumpKeyTree(HKEY_CURRENT_USER, ProfileKey(legacy, "Outlook")));
    EXPECT_NE(std::string::npos, NewLog().find("Failed to store Outlook Profile registry keys."));
    // The profile's items wait for its key.
    EXPECT_FALSE(FileExistsAt(DataFolder() + "\\outcmd.dat"));

    // An archive whose profile lacks its key file restores nothing of it.
    ASSERT_TRUE(ComposeArchive(damaged, [&] {
        auto entries = EntriesOf(saved, "");
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [&](const EntryCopy& entry) { return entry.name == identity; }),
                      entries.end());
        return entries;
    }()));
    EXPECT_EQ(0, RestoreEverything(damaged));
    EXPECT_NE(std::string::npos, NewLog().find("CUnzipper::GotoFile call failed."));
    EXPECT_EQ(ntTree, DumpKeyTree(HKEY_CURRENT_USER, ProfileKey(nt, "Outlook")));
    EXPECT_FALSE(FileExistsAt(DataFolder() + "\\outcmd.dat"));
}

// The host offers Wrenmark only where Office has left one of its keys.
TEST(WrenmarkHost, TheOfficeProbeDecidesWhetherOutlookIsOffered) {
    ScratchRegistry registry(true);
    const std::string home = WinePath(VELMORA_HOME_DIR);
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, "Software\\Orridge\\Velmora", "Velmora Home", home));
    auto names = [&] {
        CEngineHost host(home);
        std::vector<std::string> loaded;
        for (int i = 0; i < host.GetPlugInCount(); ++i) loaded.push_back(host.GetPlugIn(i)->GetName());
        return loaded;
    };
    EXPECT_EQ(std::vector<std::string>{"Outlook Express"}, names());
    for (const char* version : {"Outlook", "8.0", "9.0", "10.0", "11.0"}) {
        const std::string key = std::string("Software\\Microsoft\\Office\\") + version;
        ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, key, "probe", 1));
        EXPECT_EQ((std::vector<std::string>{"Outlook", "Outlook Express"}), names()) << key;
        ASSERT_EQ(ERROR_SUCCESS, SHDeleteKeyA(HKEY_CURRENT_USER, "Software\\Microsoft\\Office"));
    }
    // A key of another Office version is no sign of Outlook.
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, "Software\\Microsoft\\Office\\12.0", "probe", 1));
    EXPECT_EQ(std::vector<std::string>{"Outlook Express"}, names());
}

// Both mail clients into one folder and back, in one run of the host.
TEST_F(WrenmarkTest, BothMailClientsBackUpIntoOneFolderAndRestoreFromIt) {
    const std::string home = WinePath(VELMORA_HOME_DIR);
    const std::string before = mailfixture::Snapshot(profile.Path());
    CEngineHost host(home);
    ASSERT_EQ(2, host.GetPlugInCount());
    ASSERT_EQ(1, host.InitBackup());
    for (int i = 0; i < host.GetPlugInCount(); ++i) host.GetPlugIn(i)->Enable();
    ASSERT_EQ(1, host.Backup(target.Path())) << NewLog();
    const std::string express = target / "Outlook Express.vlb";
    EXPECT_TRUE(FileExistsAt(express));
    EXPECT_TRUE(FileExistsAt(Archive()));
    ASSERT_EQ(1, host.UninitBackup());

    for (const auto& identity : mailfixture::Identities()) ASSERT_TRUE(mailfixture::RemoveIdentity(profile.Path(), identity));
    SHDeleteKeyA(HKEY_CURRENT_USER, mailfixture::kSharedAccountsKey);
    ASSERT_TRUE(DeleteFileA(mailfixture::WabPath(profile.Path()).c_str()));
    SHDeleteKeyA(HKEY_CURRENT_USER, ProfileKey(mailfixture::kOutlookProfilesKey, "Outlook").c_str());
    SHDeleteKeyA(HKEY_CURRENT_USER, mailfixture::kOutlookAccountsKey);
    ASSERT_TRUE(RemoveTree(DataFolder()));
    ASSERT_NE(before, mailfixture::Snapshot(profile.Path()));

    ASSERT_EQ(1, host.InitRestore("Outlook Express", express));
    ASSERT_EQ(1, host.InitRestore("Outlook", Archive()));
    for (int i = 0; i < host.GetPlugInCount(); ++i) host.GetPlugIn(i)->Enable();
    ASSERT_EQ(1, host.Restore()) << NewLog();
    EXPECT_EQ(before, mailfixture::Snapshot(profile.Path()));
    host.UninitRestore();
}

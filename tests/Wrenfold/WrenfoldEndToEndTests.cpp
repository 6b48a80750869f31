// Outlook Express backed up and restored through the real plug-in's exports;
// Cancel pressed on the real progress dialog while it works on a large file.
#include <windows.h>
#include <ntsecapi.h>

#include "WrenfoldHarness.h"

#include <atomic>
#include <functional>
#include <thread>

#include <shlobj.h>

#include "FileUtil.h"
#include "ORRegistryUtil.h"

using namespace testsupport;
using mailfixture::OEIdentity;

namespace {
const std::string kTop = "Outlook Express";

std::string IdentityFolder(const OEIdentity& identity) { return kTop + "\\" + identity.id + "$" + identity.userName; }
std::string KeyOf(const OEIdentity& identity) { return DumpKeyTree(HKEY_CURRENT_USER, "Identities\\" + identity.id); }

// Incompressible content, so the archive grows as fast as the file is read.
bool WriteRandomFile(const std::string& path, DWORD size) {
    CHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    std::vector<char> block(1u << 20);
    DWORD written = 0;
    for (DWORD done = 0; done < size; done += block.size())
        if (!RtlGenRandom(block.data(), block.size()) || !WriteFile(file, block.data(), block.size(), &written, nullptr))
            return false;
    return true;
}

// Size of the largest "vlb*.tmp" in a folder: the archive or the extracted
// file being written.
DWORD LargestTempFile(const std::string& folder) {
    DWORD largest = 0;
    WIN32_FIND_DATAA data;
    CFindHandle find;
    for (bool more = find.First((folder + "\\vlb*.tmp").c_str(), data); more; more = find.Next(data))
        largest = std::max(largest, data.nFileSizeLow);
    return largest;
}

// Runs an export while another thread presses Cancel on this process's
// progress dialog, as a user would, once the temporary file in folder holds
// 16 MiB; checks that the work stopped inside the large file (a worker that
// looks for Cancel only between files writes all of it).
int RunCancelled(const std::function<int()>& work, const std::string& folder) {
    std::atomic<bool> finished{false}, pressed{false};
    std::atomic<DWORD> largest{0};
    std::thread presser([&] {
        for (; !finished && !pressed; Sleep(1)) {
            HWND dialog = nullptr;
            DWORD process = 0;
            while ((dialog = FindWindowExA(nullptr, dialog, nullptr, "Please Wait..")) &&
                   (GetWindowThreadProcessId(dialog, &process), process != GetCurrentProcessId())) {}
            if (!dialog || LargestTempFile(folder) <= 16u << 20) continue;
            pressed = true;
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
        }
        for (; !finished; Sleep(1)) largest = std::max<DWORD>(largest, LargestTempFile(folder));
    });
    const int result = work();
    finished = true;
    presser.join();
    EXPECT_TRUE(pressed) << "the work ended before Cancel could be pressed";
    EXPECT_LT(largest.load(), 48u << 20);
    return result;
}
}  // namespace

TEST_F(WrenfoldTest, BackupWritesTheSelectedEntriesInOrderAndNothingElse) {
    StartPlugIn();
    // Main Identity whole; Alice without her items; Bob's items but not Bob.
    Find(BackupList(), "Main Identity")->Enable();
    CBackupIdentity* alice = Find(BackupList(), "Alice Martin");
    alice->Enable();
    for (CBackupItem* item : *alice->GetItems()) item->Disable();
    for (CBackupItem* item : *Find(BackupList(), "Bob Okafor")->GetItems()) item->Enable();
    const std::string readOnly = mailfixture::ExpandedStoreFolder(profile.Path(), Identity("Main Identity")) + "\\Archive\\Inbox.dbx";
    ASSERT_TRUE(SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
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
    const std::string book = kTop + "\\AddressBook\\";
    expected.insert(expected.end(), {book, book + PathFindFileNameA(mailfixture::WabPath(profile.Path()).c_str()),
                                     book + "WAB.txt", kTop + "\\summary.txt"});
    EXPECT_EQ(expected, ListArchive(Archive()));
    // Nothing of the staging (a read-only file included) or the temporary
    // archive stays behind.
    EXPECT_EQ(std::vector<std::string>{"Outlook Express.vlb"}, Listing(target.Path()));

    // With no identity selected the address book is still written, and restored.
    Export<PFN_Disable>("Disable")();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    std::vector<std::string> bookOnly = {kTop + "\\"};
    bookOnly.insert(bookOnly.end(), expected.end() - 4, expected.end());   // the address book's entries and the summary
    EXPECT_EQ(bookOnly, ListArchive(Archive()));
    const std::string wab = mailfixture::WabPath(profile.Path());
    std::string original, restored;
    ASSERT_TRUE(ReadFileBytes(wab, original) && WriteFileBytes(wab, "changed"));
    ASSERT_EQ(1, InitRestore(Archive())) << NewLog();
    ASSERT_EQ(1, Restore()) << NewLog();
    EXPECT_TRUE(ReadFileBytes(wab, restored) && restored == original);
}

TEST_F(WrenfoldTest, RestoreAfterRemovalBringsBackEveryKeyAndFileWhateverTheUserNames) {
    // Besides the usual identities: user names with "$", equal to an item's
    // folder name, or none.
    const char* const names[] = {"Pay$roll Messages", "Accounts", ""};
    std::vector<OEIdentity> all = mailfixture::Identities();
    for (int i = 0; i < 3; ++i) {
        all.push_back({"{0A000000-0000-0000-0000-00000000000" + std::to_string(i) + "}", names[i], "%UserProfile%\\Stores\\" + std::to_string(i)});
        ASSERT_TRUE(mailfixture::AddIdentity(profile.Path(), all.back(), 11 + i));
    }
    ASSERT_EQ(ERROR_SUCCESS, SHDeleteValueA(HKEY_CURRENT_USER, ("Identities\\" + all.back().id).c_str(), "Username"));
    StartPlugIn();
    EnableAll();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    const std::string before = mailfixture::Snapshot(profile.Path());
    const auto stores = ReadTree(profile / "Stores");

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
    const std::string aliceTree = KeyOf(alice), damaged = profile / "damaged.vlb";
    ASSERT_TRUE(RewriteArchive(Archive(), damaged, {{IdentityFolder(alice) + "\\Identity.txt", "WINE REGISTRY damaged\n\x01\x02"}}));

    // Now the system holds two other identities named Alice Martin, and Bob.
    ASSERT_TRUE(mailfixture::RemoveIdentity(profile.Path(), alice));
    const OEIdentity first = {"{11111111-2222-3333-4444-555555555555}", "Alice Martin", alice.storeRoot};
    const OEIdentity second = {"{66666666-7777-8888-9999-AAAAAAAAAAAA}", "Alice Martin", alice.storeRoot};
    ASSERT_TRUE(mailfixture::AddIdentity(profile.Path(), first, 7));
    ASSERT_TRUE(mailfixture::AddIdentity(profile.Path(), second, 8));
    const std::string firstTree = KeyOf(first), secondTree = KeyOf(second);

    // A key the registry refuses: the user keeps the identity in use.
    EXPECT_EQ(0, RestoreEverything(damaged));
    EXPECT_NE(std::string::npos, NewLog().find("Failed to store Identity registry key."));
    EXPECT_EQ(firstTree, KeyOf(first));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Identities\\" + alice.id));

    ASSERT_EQ(1, RestoreEverything(Archive())) << NewLog();
    EXPECT_EQ(aliceTree, KeyOf(alice));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Identities\\" + first.id));
    EXPECT_EQ(secondTree, KeyOf(second));   // the first of that name only
}

// Accounts go to the shared key, or else the identity's own; the store root
// is expanded for the user restoring; other identities are left alone.
TEST_F(WrenfoldTest, ARestoredIdentityFitsTheCurrentSystem) {
    const OEIdentity& bob = Identity("Bob Okafor");
    const std::string shared = mailfixture::kSharedAccountsKey, own = "Identities\\" + bob.id + "\\" + shared;
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, own + "\\00000001", "Account Name", "bob only"));
    ASSERT_EQ(ERROR_SUCCESS, SHDeleteKeyA(HKEY_CURRENT_USER, shared.c_str()));
    const std::string ownTree = DumpKeyTree(HKEY_CURRENT_USER, own);
    const std::string others = KeyOf(Identity("Main Identity")) + KeyOf(Identity("Alice Martin"));
    const auto files = ReadTree(mailfixture::ExpandedStoreFolder(profile.Path(), bob));
    StartPlugIn();
    Find(BackupList(), "Bob Okafor")->Enable();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    // No identity of that name: nothing else replaced, no shared key made.
    ASSERT_EQ(ERROR_SUCCESS, SHDeleteKeyA(HKEY_CURRENT_USER, ("Identities\\" + bob.id).c_str()));
    ASSERT_EQ(1, RestoreEverything(Archive())) << NewLog();
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, shared));
    EXPECT_EQ(others, KeyOf(Identity("Main Identity")) + KeyOf(Identity("Alice Martin")));
    // Once there is a shared key, it is the key replaced; restored for
    // another user, the messages go to that user's profile.
    ScratchFolder otherUser;
    ASSERT_TRUE(SetEnvironmentVariableA("USERPROFILE", otherUser.Path().c_str()));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, shared + "\\00000009", "Account Name", "x"));
    ASSERT_EQ(1, RestoreEverything(Archive())) << NewLog();
    EXPECT_EQ(ownTree, DumpKeyTree(HKEY_CURRENT_USER, shared));
    EXPECT_TRUE(files == ReadTree(mailfixture::ExpandedStoreFolder(otherUser.Path(), bob))) << "not in the restoring user's profile";
}

TEST_F(WrenfoldTest, FailedBackupsAreReportedAndKeepThePreviousArchiveAndTheUsersFiles) {
    const OEIdentity& main = Identity("Main Identity");
    const std::string store = mailfixture::ExpandedStoreFolder(profile.Path(), main), inbox = store + "\\Inbox.dbx";
    // A folder of the staging folder's name is the user's.
    ASSERT_TRUE(MakeDirs(target / kTop) && WriteFileBytes(target / (kTop + "\\mine.dbx"), "user data"));
    StartPlugIn();
    Find(BackupList(), "Main Identity")->Enable();
    EXPECT_EQ(0, Backup(target / "missing"));
    EXPECT_FALSE(DirExistsAt(target / "missing"));

    // A locked message file is reported and missing; the rest is kept.
    EXPECT_EQ(0, BackupWhileLocked(inbox));
    EXPECT_NE(std::string::npos, NewLog().find("The file " + inbox + " could not be read and is missing from the backup."));
    const std::string messages = IdentityFolder(main) + "\\Messages";
    std::vector<std::string> files;
    AppendStoreEntries(store, messages, files);
    for (const std::string& file : files)
        EXPECT_EQ(file != messages + "\\Inbox.dbx", Contains(ListArchive(Archive()), file)) << file;

    // Over an existing archive, an incomplete one goes beside it; one that
    // cannot be replaced stays as it was.
    std::string previous, now, mine;
    ASSERT_TRUE(ReadFileBytes(Archive(), previous) && WriteFileBytes(store + "\\Sent Items.dbx", "new mail"));
    EXPECT_EQ(0, BackupWhileLocked(inbox));
    EXPECT_TRUE(FileExistsAt(target / "Outlook Express (incomplete).vlb"));
    EXPECT_EQ(0, BackupWhileLocked(Archive()));
    ASSERT_TRUE(ReadFileBytes(Archive(), now));
    EXPECT_TRUE(previous == now) << "the previous archive changed";
    EXPECT_TRUE(ReadFileBytes(target / (kTop + "\\mine.dbx"), mine) && mine == "user data");
    EXPECT_EQ((std::vector<std::string>{"Outlook Express", "Outlook Express (incomplete).vlb", "Outlook Express.vlb"}),
              Listing(target.Path()));
}

// The worker's cancel reaches the copy of a data folder between files, not
// only after the whole folder.
TEST(FileUtil, CopyFolderStopsWhenCancelled) {
    struct : ICopyFolderSink {
        void OnFileCopied(const char*, bool) override { ++files; }
        bool IsCancelled() override { return files > 0; }
        int files = 0;
    } sink;
    ScratchFolder scratch;
    ASSERT_TRUE(MakeDirs(scratch / "src") && WriteFileBytes(scratch / "src\\a", "a") && WriteFileBytes(scratch / "src\\b", "b"));
    EXPECT_FALSE(CopyFolder((scratch / "src").c_str(), (scratch / "dst").c_str(), &sink, "%d"));
    EXPECT_EQ(1, sink.files);
}

// One large store file and a complete backup of it; then a backup and a
// restore cancelled half-way through that file.
TEST_F(WrenfoldTest, CancelStopsBackupAndRestoreAndKeepsWhatWasThere) {
    StartPlugIn();
    const OEIdentity first = Identity(BackupList().front()->GetName());
    const std::string store = mailfixture::ExpandedStoreFolder(profile.Path(), first), big = store + "\\Big.dbx";
    ASSERT_TRUE(WriteRandomFile(big, 160u << 20));
    EnableAll();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    const std::string keyTree = KeyOf(first);
    const std::vector<std::string> entries = ListArchive(Archive());

    EXPECT_EQ(0, RunCancelled([this] { return Backup(target.Path()); }, target.Path()));
    EXPECT_EQ(entries, ListArchive(Archive()));   // the previous archive, whole
    EXPECT_EQ(std::vector<std::string>{"Outlook Express.vlb"}, Listing(target.Path()));
    EXPECT_EQ(std::string::npos, NewLog().find("to zip file"));   // the abandoned file is no failure

    // Since the backup: the large file rewritten, the first identity's key and
    // every other identity removed, the address book changed.
    std::string current, after, book;
    ASSERT_TRUE(WriteRandomFile(big, 4u << 20) && ReadFileBytes(big, current) && WriteFileBytes(mailfixture::WabPath(profile.Path()), "changed"));
    ASSERT_EQ(ERROR_SUCCESS, SHDeleteKeyA(HKEY_CURRENT_USER, ("Identities\\" + first.id).c_str()));
    std::vector<OEIdentity> others = mailfixture::Identities();
    others.erase(std::find_if(others.begin(), others.end(), [&](const auto& identity) { return identity.id == first.id; }));
    for (const auto& identity : others) ASSERT_TRUE(mailfixture::RemoveIdentity(profile.Path(), identity));
    StopPlugIn();
    StartPlugIn();
    ASSERT_EQ(1, InitRestore(Archive())) << NewLog();
    EnableAll();
    EXPECT_EQ(0, RunCancelled([this] { return Restore(); }, store));
    // The identity under way got its key back (it comes before its items);
    // nothing after the cancelled item was touched, that one not by half, and
    // no extraction file is left.
    EXPECT_EQ(keyTree, KeyOf(first));
    for (const auto& identity : others) EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Identities\\" + identity.id));
    EXPECT_TRUE(ReadFileBytes(mailfixture::WabPath(profile.Path()), book) && book == "changed");
    EXPECT_TRUE(ReadFileBytes(big, after) && after == current) << "the store file was replaced";
    for (const std::string& name : Listing(store)) EXPECT_NE(0, name.compare(0, 3, "vlb")) << name;
    EXPECT_EQ(std::string::npos, NewLog().find("Failed to restore"));
    // Nothing is left half-done for a restore run to the end.
    EXPECT_EQ(1, Restore()) << NewLog();
    for (const auto& identity : others) EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Identities\\" + identity.id));
}

namespace {
// Appends a copy of the entry named of under the name as, with other content
// when data is given.
void AppendCopy(std::vector<ArchiveEntry>& entries, const std::string& of, const std::string& as,
                const char* data = nullptr) {
    ArchiveEntry copy = EntryNamed(entries, of);
    copy.name = as;
    if (data) copy.data = data;
    entries.push_back(copy);
}
}  // namespace

// Entries that land on one file (another letter case, "/" for "\", a doubled
// separator, a plain duplicate, a second address book): the first in archive
// order is restored, once and whole, and each later one is named. Copies of
// the same data lose nothing; other data under the same file fails the restore.
TEST_F(WrenfoldTest, EntriesThatLandOnOneFileRestoreOnlyTheFirstAndAreNamed) {
    const OEIdentity& main = Identity("Main Identity");
    const std::string folder = IdentityFolder(main), wab = mailfixture::WabPath(profile.Path());
    const std::string book = kTop + "\\AddressBook\\" + PathFindFileNameA(wab.c_str());
    StartPlugIn();
    Find(BackupList(), "Main Identity")->Enable();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    const std::string before = mailfixture::Snapshot(profile.Path());
    const std::vector<ArchiveEntry> original = ReadArchiveEntries(Archive());

    std::vector<ArchiveEntry> same = original;
    AppendCopy(same, folder + "\\Identity.txt", kTop + "\\" + main.id + "$main identity\\Identity.txt");
    AppendCopy(same, folder + "\\Accounts\\Accounts.txt", kTop + "/" + main.id + "$Main Identity/Accounts/Accounts.txt");
    AppendCopy(same, folder + "\\Messages\\Inbox.dbx", folder + "\\Messages\\Inbox.dbx");
    std::vector<ArchiveEntry> other = same;
    AppendCopy(other, folder + "\\Messages\\Inbox.dbx", folder + "\\MESSAGES\\inbox.DBX", "other mail");
    AppendCopy(other, folder + "\\Messages\\Folders.dbx", folder + "\\Messages\\\\Folders.dbx", "other folders");
    AppendCopy(other, book, kTop + "\\AddressBook\\other.wab", "other book");
    ASSERT_TRUE(WriteArchiveEntries(profile / "same.vlb", same) && WriteArchiveEntries(profile / "other.vlb", other));

    const std::vector<std::string> catalogue = {"Main Identity", "  Messages", "  Accounts"};
    for (const std::string name : {"same.vlb", "other.vlb"}) {
        SCOPED_TRACE(name);
        const bool differs = name == "other.vlb";
        const size_t seen = NewLog().size();
        ASSERT_TRUE(mailfixture::RemoveIdentity(profile.Path(), main) && DeleteFileA(wab.c_str()));
        ASSERT_EQ(ERROR_SUCCESS, SHDeleteKeyA(HKEY_CURRENT_USER, mailfixture::kSharedAccountsKey));
        EXPECT_EQ(catalogue, CatalogueOf(profile / name));   // one identity, one item of each kind
        EXPECT_EQ(differs ? 0 : 1, RestoreEverything(profile / name)) << NewLog();
        EXPECT_EQ(before, mailfixture::Snapshot(profile.Path()));
        const std::string log = NewLog().substr(seen);
        EXPECT_EQ(3u, LinesWith(log, "duplicates").size()) << log;
        EXPECT_EQ(differs ? 3u : 0u, LinesWith(log, "lands on the same file").size()) << log;
        EXPECT_EQ(differs ? 1u : 0u, LinesWith(log, "The entry " + folder + "\\Messages\\\\Folders.dbx lands").size());
    }
}

// A store root that came back with an archived identity key is used only
// when it is a plain absolute folder outside the system's own folders.
TEST_F(WrenfoldTest, AStoreRootOutsideOrdinaryFoldersRestoresNoMessageFile) {
    const OEIdentity& main = Identity("Main Identity");
    const std::string key = "Identities\\" + main.id, settings = key + "\\Software\\Microsoft\\Outlook Express\\5.0";
    StartPlugIn();
    Find(BackupList(), "Main Identity")->Enable();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    const std::vector<ArchiveEntry> original = ReadArchiveEntries(Archive());

    auto special = [](int csidl) {
        char path[MAX_PATH] = {};
        EXPECT_TRUE(SHGetSpecialFolderPathA(nullptr, path, csidl, FALSE)) << csidl;
        return std::string(path);
    };
    char shortPrograms[MAX_PATH] = {};
    ASSERT_NE(0u, GetShortPathNameA(special(CSIDL_PROGRAM_FILES).c_str(), shortPrograms, MAX_PATH));
    const std::string roots[] = {special(CSIDL_STARTUP), special(CSIDL_COMMON_STARTUP) + "\\Mail",
                                 special(CSIDL_WINDOWS) + "\\Mail", special(CSIDL_SYSTEM),
                                 std::string(shortPrograms) + "\\Mail", "Mail\\Store", "C:\\", "",
                                 profile / "Mail\\..\\..\\Mail", profile / "Mail.", profile / "Mail\\CON",
                                 profile / "Mail:stream", "\\\\localhost\\share\\Mail", "\\\\?\\" + (profile / "Mail")};
    const std::string hive = profile / "identity.hive";
    for (const std::string& root : roots) {
        SCOPED_TRACE(root);
        std::vector<ArchiveEntry> entries = original;
        ASSERT_TRUE(SetString(HKEY_CURRENT_USER, settings, "Store Root", root, REG_EXPAND_SZ));
        ASSERT_TRUE(ORRegistryUtil::SaveRegKeyPath(HKEY_CURRENT_USER, key.c_str(), hive.c_str()));
        for (ArchiveEntry& entry : entries)
            if (entry.name == IdentityFolder(main) + "\\Identity.txt") ASSERT_TRUE(ReadFileBytes(hive, entry.data));
        ASSERT_TRUE(WriteArchiveEntries(profile / "odd.vlb", entries));
        EXPECT_EQ(0, RestoreEverything(profile / "odd.vlb"));
        EXPECT_EQ(1u, LinesWith(NewLog(), "Refused to restore messages into the store folder " + root + ":").size());
        if (root.compare(0, 2, "\\\\") != 0) EXPECT_FALSE(FileExistsAt(root + "\\Inbox.dbx"));
    }
    // The identity's accounts were still put back.
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, mailfixture::kSharedAccountsKey));
}

// Without folder entries (as many zip tools write) every file still reaches
// its identity and item: the same list, the same restore.
TEST_F(WrenfoldTest, AnArchiveWithoutFolderEntriesRestoresAsTheOriginal) {
    StartPlugIn();
    EnableAll();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    const std::string before = mailfixture::Snapshot(profile.Path());
    std::vector<ArchiveEntry> files;
    for (const ArchiveEntry& entry : ReadArchiveEntries(Archive()))
        if (!entry.IsFolder()) files.push_back(entry);
    ASSERT_TRUE(WriteArchiveEntries(profile / "files.vlb", files));
    const std::vector<std::string> catalogue = CatalogueOf(Archive());
    EXPECT_EQ(3 * mailfixture::Identities().size(), catalogue.size());
    EXPECT_EQ(catalogue, CatalogueOf(profile / "files.vlb"));

    for (const OEIdentity& identity : mailfixture::Identities()) ASSERT_TRUE(mailfixture::RemoveIdentity(profile.Path(), identity));
    ASSERT_EQ(ERROR_SUCCESS, SHDeleteKeyA(HKEY_CURRENT_USER, mailfixture::kSharedAccountsKey));
    ASSERT_TRUE(DeleteFileA(mailfixture::WabPath(profile.Path()).c_str()));
    ASSERT_EQ(1, RestoreEverything(profile / "files.vlb")) << NewLog();
    EXPECT_EQ(before, mailfixture::Snapshot(profile.Path()));
}

// An entry that no item restores fails the restore of what it belongs to, a
// selected identity or the address book, and is named; an identity that is
// not selected does not count.
TEST_F(WrenfoldTest, EntriesThatNothingRestoresFailTheRestoreAndAreNamed) {
    StartPlugIn();
    EnableAll();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    const std::string folder = IdentityFolder(Identity("Main Identity"));
    std::vector<ArchiveEntry> entries = ReadArchiveEntries(Archive());
    const std::string strays[] = {folder + "\\notes.txt", folder + "\\Accounts\\old\\Accounts.txt", folder + "\\Other\\x.dat"};
    for (const std::string& stray : strays) entries.push_back({stray, "kept aside", entries.front().dosDate});
    ASSERT_TRUE(WriteArchiveEntries(profile / "strays.vlb", entries));
    EXPECT_EQ(1, RestoreOnly(profile / "strays.vlb", {"Alice Martin"})) << NewLog();
    EXPECT_EQ(0, RestoreOnly(profile / "strays.vlb", {"Main Identity"}));
    const std::string log = NewLog();
    for (const std::string& stray : strays)
        EXPECT_EQ(1u, LinesWith(log, "The entry " + stray + " belongs to nothing that is restored").size()) << stray;

    entries.push_back({kTop + "\\AddressBook\\Notes.doc", "kept aside", entries.front().dosDate});
    ASSERT_TRUE(WriteArchiveEntries(profile / "strays.vlb", entries));
    EXPECT_EQ(0, RestoreOnly(profile / "strays.vlb", {"Alice Martin"}));
    EXPECT_EQ(1u, LinesWith(NewLog(), "The entry " + kTop + "\\AddressBook\\Notes.doc belongs to nothing").size());
}

// Below "AddressBook\" the book is the file whose name ends in ".wab", in any
// letter case, and "WAB.txt" is the settings kept in the archive only; names
// that merely hold ".wab", and other ".txt" files, are entries nothing
// restores: named, and the restore fails. They come first, where a looser
// match would take one of them for the book.
TEST_F(WrenfoldTest, AddressBookEntriesAreKnownByTheirWholeExtension) {
    StartPlugIn();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    const std::string wab = mailfixture::WabPath(profile.Path());
    const std::string book = kTop + "\\AddressBook\\" + PathFindFileNameA(wab.c_str());
    std::vector<ArchiveEntry> entries = ReadArchiveEntries(Archive());
    const auto at = std::find_if(entries.begin(), entries.end(), [&](const ArchiveEntry& e) { return e.name == book; });
    ASSERT_NE(entries.end(), at);
    const std::string strays[] = {kTop + "\\AddressBook\\x.wab.bak", kTop + "\\AddressBook\\a.wabby",
                                  kTop + "\\AddressBook\\notes.txt", kTop + "\\AddressBook\\Old\\WAB.txt"};
    std::vector<ArchiveEntry> decoys;
    for (const std::string& stray : strays) decoys.push_back({stray, "not the address book", at->dosDate});
    std::vector<ArchiveEntry> upper = entries;
    upper[at - entries.begin()].name = kTop + "\\AddressBook\\BOOK.WAB";
    entries.insert(entries.begin() + (at - entries.begin()), decoys.begin(), decoys.end());
    ASSERT_TRUE(WriteArchiveEntries(profile / "decoys.vlb", entries) && WriteArchiveEntries(profile / "upper.vlb", upper));
    std::string original, restored;
    ASSERT_TRUE(ReadFileBytes(wab, original));
    const std::string folder = wab.substr(0, wab.rfind('\\'));

    ASSERT_TRUE(WriteFileBytes(wab, "changed"));
    EXPECT_EQ(0, RestoreOnly(profile / "decoys.vlb", {}));
    const std::string log = NewLog();
    for (const std::string& stray : strays)
        EXPECT_EQ(1u, LinesWith(log, "The entry " + stray + " belongs to nothing that is restored").size()) << stray;
    EXPECT_TRUE(LinesWith(log, "WAB.txt belongs to nothing").size() == 1) << "only the one in a sub-folder";
    EXPECT_TRUE(ReadFileBytes(wab, restored) && restored == original) << "the book itself is still restored";
    EXPECT_FALSE(FileExistsAt(folder + "\\x.wab.bak"));

    ASSERT_TRUE(DeleteFileA(wab.c_str()));
    EXPECT_EQ(1, RestoreOnly(profile / "upper.vlb", {})) << NewLog();
    EXPECT_TRUE(ReadFileBytes(folder + "\\BOOK.WAB", restored) && restored == original);
}

// Where the mail client never ran, the address book goes to its default
// place under the application-data folder, and the registry then names it;
// where a location is set, the book goes beside it and the location stays.
TEST_F(WrenfoldTest, WithoutAnAddressBookLocationTheBookGoesToItsDefaultPlace) {
    const std::string wab = mailfixture::WabPath(profile.Path()), location = "Software\\Microsoft\\WAB\\WAB4\\Wab File Name";
    std::string original, restored, named;
    ASSERT_TRUE(ReadFileBytes(wab, original));
    StartPlugIn();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    ASSERT_TRUE(DeleteFileA(wab.c_str()));
    ASSERT_EQ(ERROR_SUCCESS, SHDeleteKeyA(HKEY_CURRENT_USER, location.c_str()));
    StopPlugIn();
    StartPlugIn();   // its log stays where it is; from now the application-data folder is the profile's
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                          "AppData", profile / "Application Data", REG_EXPAND_SZ));
    ASSERT_EQ(1, InitRestore(Archive()));
    ASSERT_EQ(1, Restore()) << NewLog();
    EXPECT_TRUE(ReadFileBytes(wab, restored) && restored == original);
    EXPECT_TRUE(GetString(HKEY_CURRENT_USER, location, "", named));
    EXPECT_EQ(wab, named);

    const std::string elsewhere = profile / "Elsewhere\\current.wab";
    ASSERT_TRUE(MakeDirs(profile / "Elsewhere") && SetString(HKEY_CURRENT_USER, location, "", elsewhere));
    ASSERT_EQ(1, Restore()) << NewLog();
    EXPECT_TRUE(ReadFileBytes(profile / ("Elsewhere\\" + std::string(PathFindFileNameA(wab.c_str()))), restored) &&
                restored == original);
    EXPECT_TRUE(GetString(HKEY_CURRENT_USER, location, "", named));
    EXPECT_EQ(elsewhere, named);
}

// A link inside a store (Wine shows a Unix symbolic link as a reparse point,
// as Windows shows a junction) is not followed by a backup, even when it
// loops back to the store, and is named in the log.
TEST_F(WrenfoldTest, LinksInAStoreAreNotBackedUp) {
    const std::string store = mailfixture::ExpandedStoreFolder(profile.Path(), Identity("Main Identity"));
    ScratchFolder outside;
    ASSERT_TRUE(WriteFileBytes(outside / "elsewhere.dbx", "not this store's mail"));
    if (!MakeSymbolicLink(store + "\\Linked", outside.Path())) GTEST_SKIP() << "no symbolic links on this system";
    struct Unlink {
        std::vector<std::string> links;
        ~Unlink() {
            for (const std::string& link : links) EXPECT_TRUE(RemoveSymbolicLink(link)) << link;
        }
    } made{{store + "\\Linked"}};
    ASSERT_TRUE(MakeSymbolicLink(store + "\\Loop", store));
    made.links.push_back(store + "\\Loop");
    StartPlugIn();
    Find(BackupList(), "Main Identity")->Enable();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    const std::vector<std::string> entries = ListArchive(Archive());
    for (const std::string& name : entries) {
        EXPECT_EQ(std::string::npos, name.find("Linked")) << name;
        EXPECT_EQ(std::string::npos, name.find("Loop")) << name;
    }
    EXPECT_TRUE(Contains(entries, IdentityFolder(Identity("Main Identity")) + "\\Messages\\Inbox.dbx"));
    const std::string log = NewLog();
    EXPECT_EQ(1u, LinesWith(log, "Skipped the link " + store + "\\Linked.").size()) << log;
    EXPECT_EQ(1u, LinesWith(log, "Skipped the link " + store + "\\Loop.").size()) << log;
    EXPECT_EQ(std::vector<std::string>{"elsewhere.dbx"}, Listing(outside.Path()));
}

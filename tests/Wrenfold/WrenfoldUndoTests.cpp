// The undo archive a restore writes before it changes anything, restored
// through the exports as the program's "Undo Last Restore" does.
#include "WrenfoldHarness.h"

#include <atomic>
#include <functional>
#include <shlobj.h>
#include <thread>

#include "FileUtil.h"
#include "Unzipper.h"

using namespace testsupport;
using mailfixture::OEIdentity;

namespace {
// Runs work while another thread reads and closes this process's restore
// failure box; the box's text, or "" when none came.
std::string CloseFailureBox(const std::function<int()>& work, int& result) {
    std::atomic<bool> done{false};
    std::string text;
    std::thread closer([&] {
        for (; !done; Sleep(10)) {
            HWND box = FindWindowA("#32770", "Error - Failed to Restore");
            DWORD process = 0;
            if (!box || (GetWindowThreadProcessId(box, &process), process != GetCurrentProcessId())) continue;
            char shown[1024] = {};
            // The box is found before its text is set.
            if (!GetDlgItemTextA(box, 0xFFFF, shown, sizeof(shown))) continue;
            text = shown;
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
    });
    result = work();
    done = true;
    closer.join();
    return text;
}

class WrenfoldUndoTest : public WrenfoldTest {
protected:
    void SetUp() override {
        WrenfoldTest::SetUp();
        ClearUndoFolder();
    }
    void TearDown() override {
        WrenfoldTest::TearDown();
        ClearUndoFolder();
    }
    // Registry trees, store folders and address book as one text.
    std::string State() {
        std::string state = mailfixture::Snapshot(profile.Path());
        for (const auto& file : ReadTree(profile / "Local Settings")) state += file.first + "=" + file.second + "\n";
        return state;
    }
};
}  // namespace

// Main Identity's store changed and got a new file since the backup, Alice
// (the first in the archive) and Bob are gone: the restore replaces Main
// Identity's files and adds the others back; the undo puts the files back,
// removes Alice and Bob again and leaves no trace of its own.
TEST_F(WrenfoldUndoTest, UndoLeavesEverythingAsBeforeTheRestore) {
    const OEIdentity& main = Identity("Main Identity");
    const OEIdentity& alice = Identity("Alice Martin");
    const OEIdentity& bob = Identity("Bob Okafor");
    StartPlugIn();
    EnableAll();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();

    const std::string mainStore = mailfixture::ExpandedStoreFolder(profile.Path(), main);
    ASSERT_TRUE(WriteFileBytes(mainStore + "\\Inbox.dbx", "mail that came after the backup"));
    ASSERT_TRUE(WriteFileBytes(mainStore + "\\New Folder.dbx", "a folder made after the backup"));
    ASSERT_TRUE(mailfixture::RemoveIdentity(profile.Path(), alice));
    ASSERT_TRUE(mailfixture::RemoveIdentity(profile.Path(), bob));
    ASSERT_EQ(ERROR_SUCCESS, SHSetValueA(HKEY_CURRENT_USER, ("Identities\\" + main.id).c_str(), "Changed", REG_SZ, "yes", 4));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, mailfixture::kSharedAccountsKey, "Changed", "yes"));
    ASSERT_TRUE(WriteFileBytes(mailfixture::WabPath(profile.Path()), "address book of today"));
    const std::string before = State();

    ASSERT_EQ(1, RestoreEverything(Archive())) << NewLog();
    ASSERT_NE(before, State());
    ASSERT_TRUE(KeyExists(HKEY_CURRENT_USER, "Identities\\" + bob.id));
    const std::vector<std::string> undo = UndoArchives();
    ASSERT_EQ(1u, undo.size());
    EXPECT_EQ(0u, undo[0].find("Outlook Express 20")) << undo[0];

    ASSERT_EQ(1, RestoreEverything(UndoFolder() + "\\" + undo[0])) << NewLog();
    EXPECT_EQ(before, State());
    for (const OEIdentity* added : {&alice, &bob}) {
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Identities\\" + added->id));
        EXPECT_FALSE(DirExistsAt(mailfixture::ExpandedStoreFolder(profile.Path(), *added)));
    }
    EXPECT_EQ(undo, UndoArchives()) << "undoing writes no undo archive of its own";
}

// Where no address book location was set, the restore sets one (and makes the
// book's folder): the undo takes both away again, whether the settings key
// was missing altogether or held an empty location.
TEST_F(WrenfoldUndoTest, UndoTakesBackTheAddressBookLocationARestoreSet) {
    const std::string wab = mailfixture::WabPath(profile.Path()), location = "Software\\Microsoft\\WAB\\WAB4\\Wab File Name";
    const std::string folder = wab.substr(0, wab.rfind('\\'));
    StartPlugIn();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    // The default place of the book is then the fixture's own.
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                          "AppData", profile / "Application Data", REG_EXPAND_SZ));
    ClearUndoFolder();
    ASSERT_TRUE(RemoveTree(folder));
    for (const bool keyKept : {false, true}) {
        SCOPED_TRACE(keyKept ? "empty location" : "no settings key");
        if (keyKept) ASSERT_TRUE(SetString(HKEY_CURRENT_USER, location, "", ""));
        else ASSERT_EQ(ERROR_SUCCESS, SHDeleteKeyA(HKEY_CURRENT_USER, mailfixture::kWabKey));
        const std::string before = mailfixture::Snapshot(profile.Path());
        ASSERT_EQ(1, RestoreOnly(Archive(), {})) << NewLog();
        std::string named;
        ASSERT_TRUE(GetString(HKEY_CURRENT_USER, location, "", named) && named == wab) << named;
        const std::vector<std::string> undo = UndoArchives();
        ASSERT_EQ(1u, undo.size());
        ASSERT_EQ(1, RestoreEverything(UndoFolder() + "\\" + undo[0])) << NewLog();
        EXPECT_EQ(before, mailfixture::Snapshot(profile.Path()));
        EXPECT_FALSE(DirExistsAt(folder));
        ClearUndoFolder();
    }
}

// Without a place for the undo archive, or with a file it cannot read, the
// restore does not start and says why.
TEST_F(WrenfoldUndoTest, ARestoreThatCannotSaveItsUndoChangesNothing) {
    const OEIdentity& alice = Identity("Alice Martin");
    StartPlugIn();
    EnableAll();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    const std::string aliceStore = mailfixture::ExpandedStoreFolder(profile.Path(), alice);
    const std::string changed = aliceStore + "\\Inbox.dbx";
    ASSERT_TRUE(WriteFileBytes(changed, "mail that came after the backup"));
    ASSERT_TRUE(mailfixture::RemoveIdentity(profile.Path(), Identity("Bob Okafor")));
    const std::string before = State();

    ASSERT_TRUE(WriteFileBytes(UndoFolder(), "a file where the folder belongs"));
    int result = -1;
    std::string box = CloseFailureBox([&] { return RestoreEverything(Archive()); }, result);
    EXPECT_EQ(0, result);
    EXPECT_NE(std::string::npos, box.find("undo file could not be saved")) << box;
    EXPECT_NE(std::string::npos, box.find("Velmora\\Undo")) << box;
    EXPECT_EQ(before, State());
    ASSERT_TRUE(DeleteFileA(UndoFolder().c_str()));

    // A store file that another program holds open cannot be saved.
    {
        CHandle lock(CreateFileA(changed.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(lock.IsValid());
        box = CloseFailureBox([&] { return RestoreEverything(Archive()); }, result);
    }
    EXPECT_EQ(0, result);
    EXPECT_NE(std::string::npos, box.find(changed)) << box;
    EXPECT_EQ(before, State());
    EXPECT_TRUE(UndoArchives().empty());
    EXPECT_TRUE(Listing(UndoFolder()).empty()) << "no temporary file is left behind";
}

// Every restore keeps one more undo archive; the oldest beyond five go, and
// so does what a restore killed while writing its undo left (a part of the
// archive and the folder of saved keys), but not what a running one has.
TEST_F(WrenfoldUndoTest, TheUndoFolderKeepsFiveArchivesAndNoneOfAKilledRun) {
    StartPlugIn();
    Find(BackupList(), "Alice Martin")->Enable();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    ASSERT_TRUE(CreateFolderPath(UndoFolder().c_str()));
    for (int i = 0; i < 6; ++i) {
        const std::string old = UndoFolder() + "\\Outlook 2001-01-0" + std::to_string(i + 1) + " 00-00-00.vlb";
        ASSERT_TRUE(WriteFileBytes(old, "old"));
        FILETIME time = {static_cast<DWORD>(i) * 10000000u, 0x01c00000u};
        CHandle file(CreateFileA(old.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &time));
    }
    EndedProcess killed;
    ASSERT_NE(0u, killed.id);
    const std::string part = UndoFolder() + "\\" + ProcessTempName("vlu", killed.id, "0001.tmp");
    const std::string running = UndoFolder() + "\\" + ProcessTempName("vlu", GetCurrentProcessId(), "0002.tmp");
    for (const std::string& file : {part, running}) {
        ASSERT_TRUE(WriteFileBytes(file, "part of an undo archive"));
        ASSERT_TRUE(MakeDirs(file + ".stage\\Main Identity"));
        ASSERT_TRUE(WriteFileBytes(file + ".stage\\Main Identity\\Identity.txt", "a saved key"));
    }
    ASSERT_EQ(1, RestoreEverything(Archive())) << NewLog();
    EXPECT_FALSE(FileExistsAt(part));
    EXPECT_FALSE(DirExistsAt(part + ".stage"));
    EXPECT_TRUE(FileExistsAt(running));
    EXPECT_TRUE(FileExistsAt(running + ".stage\\Main Identity\\Identity.txt"));
    const std::vector<std::string> kept = UndoArchives();
    ASSERT_EQ(5u, kept.size());
    EXPECT_TRUE(Contains(kept, "Outlook 2001-01-06 00-00-00.vlb"));
    EXPECT_FALSE(Contains(kept, "Outlook 2001-01-02 00-00-00.vlb"));
    EXPECT_FALSE(Contains(kept, "Outlook 2001-01-01 00-00-00.vlb"));
}

// An archive's own list of what to delete is used only when the archive lies
// in the undo folder: anywhere else it is a plain backup, and the key and file
// it names stay.
TEST_F(WrenfoldUndoTest, OnlyTheUndoFoldersArchivesDeleteWhatTheirListNames) {
    StartPlugIn();
    Find(BackupList(), "Alice Martin")->Enable();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    const std::string victim = profile / "keep me.txt", key = "Software\\Kept";
    ASSERT_TRUE(WriteFileBytes(victim, "years of notes") && SetString(HKEY_CURRENT_USER, key, "Value", "kept"));
    std::vector<ArchiveEntry> entries = ReadArchiveEntries(Archive());
    entries.push_back({"Outlook Express\\Undo.txt", "file\t" + victim + "\r\nkey\t" + key + "\r\n", entries.front().dosDate});
    ASSERT_TRUE(WriteArchiveEntries(profile / "Outlook Express.vlb", entries));

    EXPECT_EQ(1, RestoreEverything(profile / "Outlook Express.vlb")) << NewLog();
    EXPECT_EQ(1u, LinesWith(NewLog(), "The list of Undo.txt in " + profile / "Outlook Express.vlb" + " is not used").size());
    EXPECT_TRUE(FileExistsAt(victim));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, key));
    EXPECT_EQ(1u, UndoArchives().size()) << "a plain restore keeps its undo";

    // The same archive in the undo folder does undo.
    ClearUndoFolder();
    ASSERT_TRUE(CreateFolderPath(UndoFolder().c_str()));
    const std::string undo = UndoFolder() + "\\Outlook Express 2001-01-01 00-00-00.vlb";
    ASSERT_TRUE(CopyFileA((profile / "Outlook Express.vlb").c_str(), undo.c_str(), FALSE));
    EXPECT_EQ(1, RestoreEverything(undo)) << NewLog();
    EXPECT_FALSE(FileExistsAt(victim));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, key));
}

// An address book entry under a name the restore refuses (a device name) is
// not opened while the undo is planned either: the undo archive names no such
// file, and the restore fails, saying why.
TEST_F(WrenfoldUndoTest, AnAddressBookUnderADeviceNameIsNotPlannedForTheUndo) {
    StartPlugIn();
    EnableAll();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    const std::string wab = mailfixture::WabPath(profile.Path());
    const std::string book = "Outlook Express\\AddressBook\\" + wab.substr(wab.rfind('\\') + 1);
    std::vector<ArchiveEntry> entries = ReadArchiveEntries(Archive());
    for (ArchiveEntry& entry : entries)
        if (entry.name == book) entry.name = "Outlook Express\\AddressBook\\AUX.wab";
    ASSERT_TRUE(WriteArchiveEntries(profile / "Outlook Express.vlb", entries));

    EXPECT_EQ(0, RestoreEverything(profile / "Outlook Express.vlb"));
    EXPECT_EQ(1u, LinesWith(NewLog(), "Refused to restore the unsafe entry Outlook Express\\AddressBook\\AUX.wab").size())
        << NewLog();
    const std::vector<std::string> undo = UndoArchives();
    ASSERT_EQ(1u, undo.size());
    const std::vector<ArchiveEntry> saved = ReadArchiveEntries(UndoFolder() + "\\" + undo[0]);
    for (const ArchiveEntry& entry : saved) {
        EXPECT_EQ(std::string::npos, entry.name.find("AUX")) << entry.name;
        EXPECT_EQ(std::string::npos, entry.data.find("AUX.wab")) << entry.name;
    }
}

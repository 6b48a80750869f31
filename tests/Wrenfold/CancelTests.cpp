// Cancel pressed on the real progress dialog while Wrenfold backs up or
// restores a store large enough to keep the dialog up for a while.
#include <windows.h>

#include "WrenfoldHarness.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

using namespace testsupport;

namespace {
const DWORD kBigStoreSize = 160u << 20;
// Cancel is pressed once this much of the large file is written; a worker
// that notices it between blocks writes little more, one that only looks
// between files writes the rest of the file.
const ULONGLONG kPressAt = 16u << 20, kWrittenAfterPress = 32u << 20;

// Incompressible content, written in large blocks so the file is made fast.
bool WriteRandomFile(const std::string& path, DWORD size, unsigned long long state) {
    CHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    std::vector<unsigned long long> block(1u << 17);   // 1 MiB
    DWORD written = 0;
    for (DWORD done = 0; done < size; done += 1u << 20) {
        for (auto& word : block) {
            state ^= state << 13, state ^= state >> 7, state ^= state << 17;
            word = state;
        }
        if (!WriteFile(file, block.data(), 1u << 20, &written, nullptr) || written != 1u << 20) return false;
    }
    return true;
}

// Size of the largest "vlb*.tmp" in a folder: the archive or the extracted
// file being written.
ULONGLONG LargestTempFile(const std::string& folder) {
    ULONGLONG largest = 0;
    WIN32_FIND_DATAA data;
    CFindHandle find;
    for (bool more = find.First((folder + "\\vlb*.tmp").c_str(), data); more; more = find.Next(data))
        largest = std::max(largest, (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    return largest;
}

HWND FindProgressDialog() {
    for (HWND window = FindWindowExA(nullptr, nullptr, nullptr, "Please Wait.."); window;
         window = FindWindowExA(nullptr, window, nullptr, "Please Wait..")) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == GetCurrentProcessId()) return window;
    }
    return nullptr;
}

// Runs an export while a thread of its own presses Cancel on the progress
// dialog, as a user would, once the temporary file in folder holds kPressAt
// bytes; checks that the export came back promptly and that the work stopped
// inside the large file instead of finishing it first.
int RunCancelled(const std::function<int()>& work, const std::string& folder) {
    std::atomic<bool> finished{false};
    std::atomic<DWORD> pressedAt{0};
    std::atomic<ULONGLONG> largest{0};
    std::thread presser([&] {
        for (DWORD start = GetTickCount(); !finished && !pressedAt && GetTickCount() - start < 60000; Sleep(1)) {
            HWND dialog = FindProgressDialog();
            if (!dialog || LargestTempFile(folder) <= kPressAt) continue;
            pressedAt = GetTickCount() | 1;
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
        }
        for (; !finished; Sleep(1)) largest = std::max<ULONGLONG>(largest, LargestTempFile(folder));
    });
    const int result = work();
    const DWORD returnedAt = GetTickCount();
    finished = true;
    presser.join();
    EXPECT_NE(0u, pressedAt.load()) << "the work ended before Cancel could be pressed";
    if (pressedAt) {
        EXPECT_LT(returnedAt - pressedAt, 10000u);   // only a worker that ignores Cancel comes near
        EXPECT_LT(largest.load(), kPressAt + kWrittenAfterPress);
    }
    return result;
}

}  // namespace

// One large store file, a complete backup of it; then a backup and a restore
// cancelled half-way through it.
TEST_F(WrenfoldTest, CancelStopsBackupAndRestoreAndKeepsWhatWasThere) {
    StartPlugIn();
    const mailfixture::OEIdentity first = Identity(BackupList().front()->GetName());
    const std::string store = mailfixture::ExpandedStoreFolder(profile.Path(), first), big = store + "\\Big.dbx";
    ASSERT_TRUE(WriteRandomFile(big, kBigStoreSize, 11));
    EnableAll();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    const std::string firstTree = DumpKeyTree(HKEY_CURRENT_USER, "Identities\\" + first.id);
    WIN32_FILE_ATTRIBUTE_DATA previous = {}, now = {};
    ASSERT_TRUE(GetFileAttributesExA(Archive().c_str(), GetFileExInfoStandard, &previous));

    EXPECT_EQ(0, RunCancelled([this] { return Backup(target.Path()); }, target.Path()));
    ASSERT_TRUE(GetFileAttributesExA(Archive().c_str(), GetFileExInfoStandard, &now));
    EXPECT_EQ(0, CompareFileTime(&previous.ftLastWriteTime, &now.ftLastWriteTime)) << "the previous archive changed";
    EXPECT_EQ(std::vector<std::string>{"Outlook Express.vlb"}, Listing(target.Path()));
    std::string log = NewLog();
    EXPECT_NE(std::string::npos, log.find("The backup was cancelled; the existing backup file is kept.")) << log;
    EXPECT_EQ(std::string::npos, log.find("to zip file")) << log;   // the abandoned file is no failure

    // Since the backup: the large file was rewritten, the first identity's key
    // and every other identity removed, the address book changed.
    ASSERT_TRUE(WriteRandomFile(big, 4u << 20, 12));
    std::string current, wab;
    ASSERT_TRUE(ReadFileBytes(big, current));
    ASSERT_EQ(ERROR_SUCCESS, SHDeleteKeyA(HKEY_CURRENT_USER, ("Identities\\" + first.id).c_str()));
    std::vector<mailfixture::OEIdentity> others;
    for (const auto& identity : mailfixture::Identities())
        if (identity.id != first.id) others.push_back(identity);
    for (const auto& identity : others) ASSERT_TRUE(mailfixture::RemoveIdentity(profile.Path(), identity));
    ASSERT_TRUE(WriteFileBytes(mailfixture::WabPath(profile.Path()), "changed"));
    StopPlugIn();
    StartPlugIn();
    ASSERT_EQ(1, InitRestore(Archive())) << NewLog();
    ASSERT_EQ(first.userName, RestoreList().front()->GetName());
    EnableAll();
    EXPECT_EQ(0, RunCancelled([this] { return Restore(); }, store));

    // The identity under way got its key back (it comes before its items);
    // nothing after the item that was cancelled was touched.
    EXPECT_EQ(firstTree, DumpKeyTree(HKEY_CURRENT_USER, "Identities\\" + first.id));
    for (const auto& identity : others) EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Identities\\" + identity.id));
    EXPECT_TRUE(ReadFileBytes(mailfixture::WabPath(profile.Path()), wab) && wab == "changed");
    // The file abandoned half-way keeps its content; no extraction file is left.
    std::string after;
    EXPECT_TRUE(ReadFileBytes(big, after) && after == current) << "the store file was replaced";
    for (const std::string& name : Listing(store)) EXPECT_NE(0, name.compare(0, 3, "vlb")) << name;
    log = NewLog();
    EXPECT_NE(std::string::npos, log.find("The restore was cancelled.")) << log;
    EXPECT_EQ(std::string::npos, log.find("Failed to restore")) << log;
    // Nothing is left half-done for a restore run to the end.
    EXPECT_EQ(1, Restore()) << NewLog();
    for (const auto& identity : others) EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Identities\\" + identity.id));
}

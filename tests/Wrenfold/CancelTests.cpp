// Cancel pressed on the real progress dialog while Wrenfold backs up or
// restores a store large enough to keep the dialog up for a while.
#include <windows.h>

#include "WrenfoldHarness.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

using namespace testsupport;

namespace {
const char* const kDialogCaption = "Please Wait..";
const char* const kBigStoreFile = "Big.dbx";
const DWORD kBigStoreSize = 160u << 20;
// Far more than the worker should need to notice a cancel; only a worker that
// ignores it (or a hang) gets near this.
const DWORD kPromptReturnMs = 10000;
// Cancel is pressed once this much of the large file is written; a worker
// that notices it between blocks writes little more, one that only looks
// between files writes the rest of the file.
const ULONGLONG kPressAt = 16u << 20;
const ULONGLONG kWrittenAfterPress = 32u << 20;

// Incompressible content, written in large blocks so the file is made fast.
// Returns a 64-bit FNV-1a digest of what was written.
unsigned long long WriteRandomFile(const std::string& path, DWORD size, unsigned long long seed) {
    CHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file.IsValid()) return 0;
    std::vector<unsigned long long> block(1u << 17);   // 1 MiB
    unsigned long long state = seed | 1, digest = 1469598103934665603ull;
    for (DWORD done = 0; done < size; done += 1u << 20) {
        for (auto& word : block) {
            state ^= state << 13, state ^= state >> 7, state ^= state << 17;
            word = state;
        }
        const unsigned char* bytes = reinterpret_cast<const unsigned char*>(block.data());
        for (size_t i = 0; i < block.size() * 8; ++i) digest = (digest ^ bytes[i]) * 1099511628211ull;
        DWORD written = 0;
        if (!WriteFile(file.Get(), bytes, 1u << 20, &written, nullptr) || written != 1u << 20) return 0;
    }
    return digest;
}

unsigned long long FileDigest(const std::string& path) {
    CHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.IsValid()) return 0;
    std::vector<unsigned char> block(1u << 20);
    unsigned long long digest = 1469598103934665603ull;
    DWORD got = 0;
    while (ReadFile(file.Get(), block.data(), static_cast<DWORD>(block.size()), &got, nullptr) && got)
        for (DWORD i = 0; i < got; ++i) digest = (digest ^ block[i]) * 1099511628211ull;
    return digest;
}

// Names directly in a folder, hidden files and folders included.
std::vector<std::string> Listing(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    CFindHandle find;
    for (bool more = find.First((folder + "\\*").c_str(), data); more; more = find.Next(data)) {
        std::string name = data.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
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
    for (HWND window = FindWindowExA(nullptr, nullptr, nullptr, kDialogCaption); window;
         window = FindWindowExA(nullptr, window, nullptr, kDialogCaption)) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == GetCurrentProcessId()) return window;
    }
    return nullptr;
}

// Presses Cancel on this process's progress dialog, as a user would, from a
// thread of its own, once the file being written (`written` gives its size)
// holds more than pressAt bytes; then keeps watching how large it grows.
class CancelPresser {
public:
    CancelPresser(std::function<ULONGLONG()> written, ULONGLONG pressAt)
        : m_thread([this, written, pressAt] { Run(written, pressAt); }) {}
    ~CancelPresser() { Finish(); }
    // Called once the export has returned.
    void Finish() {
        m_finished = true;
        if (m_thread.joinable()) m_thread.join();
    }
    bool Pressed() const { return m_pressedAt != 0; }
    DWORD PressedAt() const { return m_pressedAt; }
    ULONGLONG LargestAfterPress() const { return m_largest; }

private:
    void Run(const std::function<ULONGLONG()>& written, ULONGLONG pressAt) {
        const DWORD start = GetTickCount();
        while (!m_finished && !Pressed() && GetTickCount() - start < 60000) {
            HWND dialog = FindProgressDialog();
            if (dialog && written() > pressAt) {
                m_pressedAt = GetTickCount() | 1;
                PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
            }
            Sleep(1);
        }
        for (; !m_finished; Sleep(1)) m_largest = std::max<ULONGLONG>(m_largest, written());
    }

    std::atomic<bool> m_finished{false};
    std::atomic<DWORD> m_pressedAt{0};
    std::atomic<ULONGLONG> m_largest{0};
    std::thread m_thread;
};

class WrenfoldCancelTest : public WrenfoldTest {
protected:
    // The first identity of the live list, whose store gets the large file.
    const mailfixture::OEIdentity& First() { return Identity(BackupList().front()->GetName()); }
    std::string StoreOf(const mailfixture::OEIdentity& identity) {
        return mailfixture::ExpandedStoreFolder(profile.Path(), identity);
    }
    // Runs an export and presses Cancel once the temporary file in `folder`
    // holds kPressAt bytes of the large file; checks that the export came
    // back promptly and that the work stopped inside that file instead of
    // finishing it first.
    int RunCancelled(const std::function<int()>& work, const std::string& folder) {
        CancelPresser presser([folder] { return LargestTempFile(folder); }, kPressAt);
        int result = work();
        DWORD returnedAt = GetTickCount();
        presser.Finish();
        EXPECT_TRUE(presser.Pressed()) << "the work ended before Cancel could be pressed";
        if (presser.Pressed()) {
            EXPECT_LT(returnedAt - presser.PressedAt(), kPromptReturnMs);
            EXPECT_LT(presser.LargestAfterPress(), kPressAt + kWrittenAfterPress);
        }
        return result;
    }
};
}  // namespace

TEST_F(WrenfoldCancelTest, CancelledBackupKeepsTheOldArchiveAndLeavesNothingBehind) {
    StartPlugIn();
    EnableAll();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    std::string previous;
    ASSERT_TRUE(ReadFileBytes(Archive(), previous));

    ASSERT_NE(0u, WriteRandomFile(StoreOf(First()) + "\\" + kBigStoreFile, kBigStoreSize, 7));
    EXPECT_EQ(0, RunCancelled([this] { return Backup(target.Path()); }, target.Path()));
    std::string now;
    ASSERT_TRUE(ReadFileBytes(Archive(), now));
    EXPECT_TRUE(previous == now) << "the previous archive changed";
    EXPECT_EQ(std::vector<std::string>{"Outlook Express.vlb"}, Listing(target.Path()));
    std::string log = NewLog();
    EXPECT_NE(std::string::npos, log.find("The backup was cancelled; the existing backup file is kept.")) << log;
    EXPECT_NE(std::string::npos, log.find("Failed to show backup progress dialog")) << log;
    // The abandoned file is not reported as one that could not be saved.
    EXPECT_EQ(std::string::npos, log.find("to zip file")) << log;

    // Without an earlier archive a cancelled backup leaves no archive at all.
    ASSERT_TRUE(DeleteFileA(Archive().c_str()));
    EXPECT_EQ(0, RunCancelled([this] { return Backup(target.Path()); }, target.Path()));
    EXPECT_EQ(std::vector<std::string>{}, Listing(target.Path()));

    // The plug-in is fit for the next backup.
    ASSERT_TRUE(DeleteFileA((StoreOf(First()) + "\\" + kBigStoreFile).c_str()));
    EXPECT_EQ(1, Backup(target.Path())) << NewLog();
}

TEST_F(WrenfoldCancelTest, CancelledRestoreStopsBetweenItemsAndReplacesNoFileByHalf) {
    StartPlugIn();
    const auto& first = First();
    const std::string big = StoreOf(first) + "\\" + kBigStoreFile;
    const unsigned long long archived = WriteRandomFile(big, kBigStoreSize, 11);
    ASSERT_NE(0u, archived);
    EnableAll();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();
    const std::string firstTree = DumpKeyTree(HKEY_CURRENT_USER, "Identities\\" + first.id);

    // Since the backup: the large file was rewritten, the first identity's key
    // and every other identity removed, the address book changed.
    const unsigned long long current = WriteRandomFile(big, 24u << 20, 12);
    ASSERT_NE(0u, current);
    ASSERT_EQ(ERROR_SUCCESS, SHDeleteKeyA(HKEY_CURRENT_USER, ("Identities\\" + first.id).c_str()));
    std::vector<const mailfixture::OEIdentity*> others;
    for (const auto& identity : mailfixture::Identities()) {
        if (identity.id == first.id) continue;
        others.push_back(&identity);
        ASSERT_TRUE(mailfixture::RemoveIdentity(profile.Path(), identity));
    }
    ASSERT_FALSE(others.empty());
    const std::string wab = mailfixture::WabPath(profile.Path());
    ASSERT_TRUE(WriteFileBytes(wab, "address book changed since the backup"));

    StopPlugIn();
    StartPlugIn();
    ASSERT_EQ(1, InitRestore(Archive())) << NewLog();
    ASSERT_EQ(others.size() + 1, RestoreList().size());
    ASSERT_EQ(first.userName, RestoreList().front()->GetName());
    EnableAll();
    const std::string store = StoreOf(first);
    EXPECT_EQ(0, RunCancelled([this] { return Restore(); }, store));

    // The identity under way got its key back (it comes before its items);
    // nothing after the item that was cancelled was touched.
    EXPECT_EQ(firstTree, DumpKeyTree(HKEY_CURRENT_USER, "Identities\\" + first.id));
    for (const auto* identity : others) {
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Identities\\" + identity->id)) << identity->userName;
        EXPECT_FALSE(DirExistsAt(StoreOf(*identity))) << identity->userName;
    }
    std::string wabNow;
    ASSERT_TRUE(ReadFileBytes(wab, wabNow));
    EXPECT_EQ("address book changed since the backup", wabNow);
    // The file abandoned half-way keeps the content it had.
    EXPECT_TRUE(FileDigest(big) == current) << "the store file was replaced";
    for (const std::string& name : Listing(store)) EXPECT_NE(0, name.compare(0, 3, "vlb")) << name;
    std::string log = NewLog();
    EXPECT_NE(std::string::npos, log.find("The restore was cancelled.")) << log;
    EXPECT_NE(std::string::npos, log.find("Failed to show restore progress dialog")) << log;
    EXPECT_EQ(std::string::npos, log.find("Failed to restore")) << log;

    // Nothing is left half-done for a restore run to the end.
    EXPECT_EQ(1, Restore()) << NewLog();
    EXPECT_EQ(archived, FileDigest(big));
    for (const auto* identity : others) EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Identities\\" + identity->id));
}

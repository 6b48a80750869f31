#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "Log.h"

#include "Handles.h"
#include "ORRegistryUtil.h"
#include "TestSupport.h"

using namespace testsupport;

namespace {
const char* const kTree = "Software\\VelmoraRegTest\\Tree";

struct RegistryFixture : ::testing::Test {
    ScratchRegistry registry;
    ScratchFolder folder;
    std::string hive = folder / "Tree.txt";

    // Values of several types in nested keys, binary data with a zero byte.
    void SetUp() override {
        RegUnLoadKeyA(HKEY_USERS, ORRegistryUtil::kMountName);
        const std::string key = kTree;
        ASSERT_TRUE(SetString(HKEY_CURRENT_USER, key, "", "%UserProfile%\\Mail", REG_EXPAND_SZ));
        ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, key + "\\Accounts\\00000001", "POP3 Port", 110));
        ASSERT_TRUE(SetBinary(HKEY_CURRENT_USER, key + "\\Accounts\\00000002", "Password", std::string("\x01\0\xff", 3)));
    }
    std::string Dump() { return DumpKeyTree(HKEY_CURRENT_USER, kTree); }
    bool Save() { return ORRegistryUtil::SaveRegKeyPath(HKEY_CURRENT_USER, kTree, hive.c_str()); }
    bool Restore() { return ORRegistryUtil::RestoreRegKeyPath(HKEY_CURRENT_USER, kTree, hive.c_str()); }
};
}  // namespace

// Saving replaces an old file (a missing key leaves it). Restoring leaves the
// key holding exactly the saved tree, also when it was missing or a stale mount
// of an interrupted restore is still loaded; no mount or working key is left.
TEST_F(RegistryFixture, HiveRoundTripRestoresExactlyTheSavedTree) {
    ASSERT_TRUE(WriteFileBytes(hive, "previous hive"));
    EXPECT_FALSE(ORRegistryUtil::SaveRegKeyPath(HKEY_CURRENT_USER, "Software\\NoSuchKey", hive.c_str()));
    std::string bytes;
    EXPECT_TRUE(ReadFileBytes(hive, bytes) && bytes == "previous hive");
    const std::string saved = Dump();
    ASSERT_TRUE(Save());
    ASSERT_TRUE(CopyFileA(hive.c_str(), (folder / "Stale.txt").c_str(), FALSE));
    ORRegistryUtil::EnablePrivilege(SE_RESTORE_NAME, true);
    ORRegistryUtil::EnablePrivilege(SE_BACKUP_NAME, true);
    ASSERT_EQ(ERROR_SUCCESS, RegLoadKeyA(HKEY_USERS, ORRegistryUtil::kMountName, (folder / "Stale.txt").c_str()));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kTree, "Only Before Restore", "gone after"));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, std::string(kTree) + "\\Stray", "x", "y"));
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, std::string(kTree) + "\\Accounts\\00000001", "POP3 Port", 995));

    ASSERT_TRUE(Restore());
    EXPECT_EQ(saved, Dump());
    EXPECT_FALSE(KeyExists(HKEY_USERS, ORRegistryUtil::kMountName));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\Orridge\\Velmora\\Restore Incoming"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\Orridge\\Velmora\\Restore Safety Copy"));
    EXPECT_EQ(ERROR_BADKEY, ORRegistryUtil::DeleteRegKeyTree(HKEY_CURRENT_USER, ""));   // not the whole root
    ASSERT_EQ(ERROR_SUCCESS, ORRegistryUtil::DeleteRegKeyTree(HKEY_CURRENT_USER, kTree));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\VelmoraRegTest"));
    ASSERT_TRUE(Restore());
    EXPECT_EQ(saved, Dump());
}

// A restore that cannot load its hive leaves the key exactly as it was; a cut hive
// may load what it holds, but the key is never left missing.
// A hive of the other architecture than the prefix's, which Wine refuses.
#ifdef _WIN64
const char kOtherArchHive[] = "WINE REGISTRY Version 2\n#arch=win32\n[x\n";
#else
const char kOtherArchHive[] = "WINE REGISTRY Version 2\n#arch=win64\n[x\n";
#endif

TEST_F(RegistryFixture, MissingDamagedOrTruncatedHiveLeavesTheKey) {
    ASSERT_TRUE(Save());
    std::string good;
    ASSERT_TRUE(ReadFileBytes(hive, good));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kTree, "Current Only", "still here"));
    const std::string before = Dump();
    ASSERT_TRUE(DeleteFileA(hive.c_str()));
    EXPECT_FALSE(Restore());
    EXPECT_EQ(before, Dump());
    for (const std::string& damaged : {std::string("this is not a hive\r\n"), std::string(),
                                       std::string(kOtherArchHive)}) {
        ASSERT_TRUE(WriteFileBytes(hive, damaged));
        EXPECT_FALSE(Restore());
        EXPECT_EQ(before, Dump());
        EXPECT_FALSE(KeyExists(HKEY_USERS, ORRegistryUtil::kMountName));
    }
    ASSERT_TRUE(WriteFileBytes(hive, good.substr(0, good.size() / 3)));
    if (!Restore()) EXPECT_EQ(before, Dump());
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kTree));
}

// The string buffer is 256 bytes: a longer value fails and leaves the text.
TEST_F(RegistryFixture, OverlongStringValueFailsCleanly) {
    std::string text = "unchanged";
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kProductKey, "Long", std::string(299, 'L')));
    EXPECT_FALSE(ORRegistryUtil::ReadStringFromRegistry(HKEY_CURRENT_USER, kProductKey, "Long", text));
    EXPECT_EQ("unchanged", text);
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kProductKey, "Edge", std::string(255, 'E')));
    EXPECT_TRUE(ORRegistryUtil::ReadStringFromRegistry(HKEY_CURRENT_USER, kProductKey, "Edge", text));
    EXPECT_EQ(std::string(255, 'E'), text);
}

// What a restore killed between setting its key aside and finishing the new
// tree leaves: the next restore puts the kept tree back before anything else,
// also when its own hive then fails to load, and only then drops the copy. A
// marker without a copy means the key did not exist before. A copy without
// the marker (killed while copying) is never put over the key.
TEST_F(RegistryFixture, CopyLeftByAKilledRestoreIsPutBackFirst) {
    const std::string safety = "Software\\Orridge\\Velmora\\Restore Safety Copy";
    const std::string before = Dump();
    auto leaveSafetyCopy = [&](bool marker) {
        CKey source, copy;
        ASSERT_EQ(ERROR_SUCCESS, source.Open(HKEY_CURRENT_USER, kTree, KEY_READ));
        ASSERT_EQ(ERROR_SUCCESS, copy.Create(HKEY_CURRENT_USER, safety.c_str(), KEY_ALL_ACCESS));
        ASSERT_EQ(ERROR_SUCCESS, ORRegistryUtil::CopyRegKeyTree(copy, source));
        if (marker) ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kProductKey, "Restore Safety Target", kTree));
    };
    ASSERT_TRUE(WriteFileBytes(hive, "this is not a hive\r\n"));

    leaveSafetyCopy(true);
    ASSERT_EQ(ERROR_SUCCESS, ORRegistryUtil::DeleteRegKeyTree(HKEY_CURRENT_USER, std::string(kTree).append("\\Accounts").c_str()));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kTree, "Half Written", "x"));
    EXPECT_FALSE(Restore());
    EXPECT_EQ(before, Dump());
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, safety));
    std::string marker;
    EXPECT_FALSE(GetString(HKEY_CURRENT_USER, kProductKey, "Restore Safety Target", marker));

    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kProductKey, "Restore Safety Target", kTree));
    EXPECT_FALSE(Restore());
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kTree));
    EXPECT_FALSE(GetString(HKEY_CURRENT_USER, kProductKey, "Restore Safety Target", marker));

    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kTree, "Only Now", "kept"));
    const std::string now = Dump();
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kTree, "Only In Copy", "x"));
    leaveSafetyCopy(false);
    ASSERT_EQ(ERROR_SUCCESS, ORRegistryUtil::DeleteRegKeyTree(HKEY_CURRENT_USER, kTree));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kTree, "Only Now", "kept"));
    EXPECT_FALSE(Restore());
    EXPECT_EQ(now, Dump());
}

namespace {
const char* const kHolderHiveVariable = "VELMORA_TEST_HOLDER_HIVE";

// Another instance of the product in the middle of a restore: this test program
// run again, holding the mount lock with its own hive mounted until killed.
struct MountHolder {
    PROCESS_INFORMATION process = {};
    ~MountHolder() { Kill(); }
    bool Start(const std::string& hive, const std::string& ready) {
        SetEnvironmentVariableA(kHolderHiveVariable, (hive + "|" + ready).c_str());
        char exe[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, exe, MAX_PATH);
        std::string command = std::string("\"") + exe +
                              "\" --gtest_also_run_disabled_tests --gtest_filter=MountHolderProcess.DISABLED_Hold";
        std::vector<char> line(command.begin(), command.end());
        line.push_back(0);
        STARTUPINFOA startup = {sizeof(startup)};
        bool started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                      &process) != FALSE;
        SetEnvironmentVariableA(kHolderHiveVariable, nullptr);
        for (int i = 0; started && i < 600 && !FileExistsAt(ready); ++i) Sleep(50);
        return started && FileExistsAt(ready);
    }
    void Kill() {
        if (!process.hProcess) return;
        TerminateProcess(process.hProcess, 9);
        WaitForSingleObject(process.hProcess, 10000);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        process = {};
    }
};
}  // namespace

// Run only as the child of MountHolder.
TEST(MountHolderProcess, DISABLED_Hold) {
    char value[2 * MAX_PATH] = {};
    ASSERT_GT(GetEnvironmentVariableA(kHolderHiveVariable, value, sizeof(value)), 0u);
    const std::string both = value;
    const std::string hive = both.substr(0, both.find('|')), ready = both.substr(both.find('|') + 1);
    CHiveMountLock lock;
    ASSERT_NE(CHiveMountLock::kBusy, lock.Acquire(INFINITE));
    ORRegistryUtil::EnablePrivilege(SE_RESTORE_NAME, true);
    ORRegistryUtil::EnablePrivilege(SE_BACKUP_NAME, true);
    RegUnLoadKeyA(HKEY_USERS, ORRegistryUtil::kMountName);
    ASSERT_EQ(ERROR_SUCCESS, RegLoadKeyA(HKEY_USERS, ORRegistryUtil::kMountName, hive.c_str()));
    ASSERT_TRUE(WriteFileBytes(ready, "mounted"));
    Sleep(INFINITE);
}

// "TEMP_HIVE" is one mount for the whole machine. While another instance holds
// it, a restore waits, then gives up on its key with a log line and leaves that
// instance's hive mounted; a start-up leaves a safety copy of a running restore
// alone. Once that instance is killed with its hive still mounted, the next
// restore clears the stale mount away and succeeds.
TEST_F(RegistryFixture, OneRestoreAtATimeOnTheMachineWideMount) {
    const std::string saved = Dump();
    ASSERT_TRUE(Save());
    const std::string other = folder / "Other.txt";
    ASSERT_TRUE(CopyFileA(hive.c_str(), other.c_str(), FALSE));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kTree, "Only Before Restore", "kept while busy"));
    const std::string changed = Dump();
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kProductKey, "Restore Safety Target", "Software\\Live Restore"));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, "Software\\Live Restore", "Half", "written"));

    MountHolder holder;
    ASSERT_TRUE(holder.Start(other, folder / "ready"));
    const std::string logPath = folder / "Restore.log";
    ASSERT_TRUE(g_Log.OpenLogFile(logPath.c_str(), true));
    g_Log.SetLogLevel(1);
    const DWORD wait = ORRegistryUtil::s_mountWaitMs;
    ORRegistryUtil::s_mountWaitMs = 300;
    EXPECT_FALSE(Restore());
    EXPECT_TRUE(ORRegistryUtil::PutBackInterruptedRestore(HKEY_CURRENT_USER));
    ORRegistryUtil::s_mountWaitMs = wait;
    g_Log.Close();
    EXPECT_EQ(changed, Dump());
    EXPECT_TRUE(KeyExists(HKEY_USERS, ORRegistryUtil::kMountName));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\Live Restore"));
    bool logged = false;
    for (const std::string& line : ReadLines(logPath)) logged |= line.find("TEMP_HIVE busy") != std::string::npos;
    EXPECT_TRUE(logged);

    holder.Kill();
    ASSERT_TRUE(KeyExists(HKEY_USERS, ORRegistryUtil::kMountName));
    ASSERT_EQ(ERROR_SUCCESS, ORRegistryUtil::DeleteRegKeyTree(HKEY_CURRENT_USER, kProductKey));
    EXPECT_TRUE(Restore());
    EXPECT_EQ(saved, Dump());
    EXPECT_FALSE(KeyExists(HKEY_USERS, ORRegistryUtil::kMountName));
}

namespace {
// Another restore of this process holding the mount with its hive loaded until
// it is told to let go or holdMs have passed.
class CMountHoldingThread {
public:
    CMountHoldingThread(const std::string& hive, DWORD holdMs)
        : m_ready(CreateEventA(nullptr, TRUE, FALSE, nullptr)), m_letGo(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
          m_thread([this, hive, holdMs] { Hold(hive, holdMs); }) {}
    ~CMountHoldingThread() {
        SetEvent(m_letGo);
        m_thread.join();
    }
    bool WaitUntilMounted() { return WaitForSingleObject(m_ready, 10000) == WAIT_OBJECT_0 && m_mounted; }
    bool Released() const { return m_released; }

private:
    void Hold(const std::string& hive, DWORD holdMs) {
        CHiveMountLock lock;
        if (lock.Acquire(INFINITE) != CHiveMountLock::kBusy) {
            ORRegistryUtil::EnablePrivilege(SE_RESTORE_NAME, true);
            RegUnLoadKeyA(HKEY_USERS, ORRegistryUtil::kMountName);
            m_mounted = RegLoadKeyA(HKEY_USERS, ORRegistryUtil::kMountName, hive.c_str()) == ERROR_SUCCESS;
        }
        SetEvent(m_ready);
        WaitForSingleObject(m_letGo, holdMs);
        // The waiting restore ends its privilege scope meanwhile.
        ORRegistryUtil::EnablePrivilege(SE_RESTORE_NAME, true);
        if (m_mounted) RegUnLoadKeyA(HKEY_USERS, ORRegistryUtil::kMountName);
        m_released = true;
    }

    CHandle m_ready, m_letGo;
    volatile bool m_mounted = false;
    volatile bool m_released = false;
    std::thread m_thread;
};
}  // namespace

// Cancel ends a restore's wait for a mount another restore holds: it returns
// while that one still holds it, leaves its hive mounted and the key as it was,
// and says why. A stop flag that is not set waits as long as ever.
TEST_F(RegistryFixture, CancelEndsTheWaitForTheMount) {
    const std::string saved = Dump();
    ASSERT_TRUE(Save());
    const std::string other = folder / "Other.txt";
    ASSERT_TRUE(CopyFileA(hive.c_str(), other.c_str(), FALSE));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kTree, "Only Before Restore", "kept when cancelled"));
    const std::string changed = Dump();
    const std::string logPath = folder / "Restore.log";
    ASSERT_TRUE(g_Log.OpenLogFile(logPath.c_str(), true));
    g_Log.SetLogLevel(1);
    volatile bool stop = false;
    {
        // Held for far less than a restore waits: only a wait that Cancel ends
        // returns before the holder lets go.
        CMountHoldingThread holder(other, 10000);
        ASSERT_TRUE(holder.WaitUntilMounted());
        std::thread cancel([&stop] {
            Sleep(300);
            stop = true;
        });
        EXPECT_FALSE(ORRegistryUtil::RestoreRegKeyPath(HKEY_CURRENT_USER, kTree, hive.c_str(), &stop));
        EXPECT_FALSE(holder.Released());
        EXPECT_TRUE(KeyExists(HKEY_USERS, ORRegistryUtil::kMountName));
        cancel.join();
    }
    EXPECT_EQ(changed, Dump());
    bool logged = false;
    for (const std::string& line : ReadLines(logPath))
        logged |= line.find("cancelled") != std::string::npos && line.find(kTree) != std::string::npos;
    EXPECT_TRUE(logged);

    stop = false;
    {
        CMountHoldingThread holder(other, 600);
        ASSERT_TRUE(holder.WaitUntilMounted());
        EXPECT_TRUE(ORRegistryUtil::RestoreRegKeyPath(HKEY_CURRENT_USER, kTree, hive.c_str(), &stop));
        EXPECT_TRUE(holder.Released());
    }
    g_Log.Close();
    EXPECT_EQ(saved, Dump());
    EXPECT_FALSE(KeyExists(HKEY_USERS, ORRegistryUtil::kMountName));
}

// Anything on the machine may hold a key of the mounted hive open for a moment
// (a registry editor, a scanner, a script looking whether a restore runs), and
// the unload fails for as long as it does. The restore waits for it to let go
// instead of giving up on its key and leaving its hive mounted.
TEST_F(RegistryFixture, AKeyHeldOpenInTheMountOnlyDelaysTheUnload) {
    // Enough values that the mount lasts a while, far less than the hold.
    for (int value = 0; value < 300; ++value)
        ASSERT_TRUE(SetString(HKEY_CURRENT_USER, std::string(kTree) + "\\Bulk", "Value " + std::to_string(value),
                              std::string(100, 'v')));
    const std::string saved = Dump();
    ASSERT_TRUE(Save());
    const std::string logPath = folder / "Restore.log";
    ASSERT_TRUE(g_Log.OpenLogFile(logPath.c_str(), true));
    g_Log.SetLogLevel(1);
    // The peeker may miss a mount; a restore it caught open is what counts.
    int caught = 0;
    for (int attempt = 0; attempt < 20 && caught == 0; ++attempt) {
        ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kTree, "Only Before Restore", "gone after"));
        std::atomic<bool> done(false);
        std::thread peeker([&done, &caught] {
            while (!done) {
                HKEY mounted = nullptr;
                if (RegOpenKeyExA(HKEY_USERS, ORRegistryUtil::kMountName, 0, KEY_READ, &mounted) != ERROR_SUCCESS)
                    continue;
                ++caught;
                Sleep(400);
                RegCloseKey(mounted);
                break;
            }
        });
        const bool restored = Restore();
        done = true;
        peeker.join();
        EXPECT_TRUE(restored) << "attempt " << attempt << ", the peeker held the mount " << caught << " times";
        EXPECT_TRUE(saved == Dump());
        EXPECT_FALSE(KeyExists(HKEY_USERS, ORRegistryUtil::kMountName));
    }
    g_Log.Close();
    EXPECT_GT(caught, 0) << "the mount was never caught open";
    for (const std::string& line : ReadLines(logPath)) EXPECT_EQ(std::string::npos, line.find("left the registry mount"));
}

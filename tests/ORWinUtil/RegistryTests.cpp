#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "Log.h"
#include "ORRegistryUtil.h"
#include "TestSupport.h"

using namespace testsupport;

namespace {
const char* const kTree = "Software\\VelmoraRegTest\\Tree";

struct RegistryFixture : ::testing::Test {
    ScratchRegistry registry;
    ScratchFolder folder;
    std::string hive = folder / "Tree.txt";

    void SetUp() override { RegUnLoadKeyA(HKEY_USERS, ORRegistryUtil::kMountName); }

    // A realistic tree: values of several types, nested subkeys, a class.
    void BuildTree(const std::string& key) {
        ASSERT_TRUE(SetString(HKEY_CURRENT_USER, key, "Account Name", "Work mail"));
        ASSERT_TRUE(SetString(HKEY_CURRENT_USER, key, "Store Root", "%UserProfile%\\Mail", REG_EXPAND_SZ));
        ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, key, "POP3 Port", 110));
        ASSERT_TRUE(SetBinary(HKEY_CURRENT_USER, key, "POP3 Password2", std::string("\x01\x00\xff\x10", 4)));
        ASSERT_TRUE(SetString(HKEY_CURRENT_USER, key, "", "default value"));
        std::string multi("one\0two\0\0", 9);
        HKEY k;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, (key + "\\Accounts\\00000001").c_str(), 0,
                                                 const_cast<char*>("MailClass"), 0, KEY_ALL_ACCESS, nullptr, &k, nullptr));
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(k, "Multi", 0, REG_MULTI_SZ,
                                                reinterpret_cast<const BYTE*>(multi.data()), 9));
        RegCloseKey(k);
        ASSERT_TRUE(SetString(HKEY_CURRENT_USER, key + "\\Accounts\\00000002", "SMTP Server", "smtp.example.org"));
        ASSERT_TRUE(KeyExists(HKEY_CURRENT_USER, key + "\\Empty\\Deeper") ||
                    SetDword(HKEY_CURRENT_USER, key + "\\Empty\\Deeper", "x", 0));
    }
    std::string Dump() { return DumpKeyTree(HKEY_CURRENT_USER, kTree); }
};
}  // namespace

TEST_F(RegistryFixture, HiveRoundTripRestoresExactlyTheSavedTree) {
    BuildTree(kTree);
    std::string saved = Dump();
    ASSERT_TRUE(ORRegistryUtil::SaveRegKeyPath(HKEY_CURRENT_USER, kTree, hive.c_str()));
    ASSERT_TRUE(FileExistsAt(hive));

    // Change the live tree: a new value, a new subkey, a changed value.
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kTree, "Only Before Restore", "gone after"));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, std::string(kTree) + "\\Stray", "x", "y"));
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, kTree, "POP3 Port", 995));
    ASSERT_NE(saved, Dump());

    ASSERT_TRUE(ORRegistryUtil::RestoreRegKeyPath(HKEY_CURRENT_USER, kTree, hive.c_str()));
    EXPECT_EQ(saved, Dump());
    EXPECT_FALSE(KeyExists(HKEY_USERS, ORRegistryUtil::kMountName)) << "TEMP_HIVE left loaded";
    // Nothing of the restore's own working keys is left behind.
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\Orridge\\Velmora\\Restore Incoming"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\Orridge\\Velmora\\Restore Safety Copy"));
}

TEST_F(RegistryFixture, RestoreCreatesAMissingKey) {
    BuildTree(kTree);
    std::string saved = Dump();
    ASSERT_TRUE(ORRegistryUtil::SaveRegKeyPath(HKEY_CURRENT_USER, kTree, hive.c_str()));
    ASSERT_EQ(0, SHDeleteKeyA(HKEY_CURRENT_USER, "Software\\VelmoraRegTest"));
    ASSERT_TRUE(ORRegistryUtil::RestoreRegKeyPath(HKEY_CURRENT_USER, kTree, hive.c_str()));
    EXPECT_EQ(saved, Dump());
}

TEST_F(RegistryFixture, SaveOfMissingKeyFailsAndKeepsTheOldFile) {
    ASSERT_TRUE(WriteFileBytes(hive, "previous hive"));
    EXPECT_FALSE(ORRegistryUtil::SaveRegKeyPath(HKEY_CURRENT_USER, "Software\\NoSuchKey", hive.c_str()));
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(hive, bytes));
    EXPECT_EQ("previous hive", bytes);
}

TEST_F(RegistryFixture, SaveReplacesAnOldFileButNotAReadOnlyOne) {
    BuildTree(kTree);
    ASSERT_TRUE(WriteFileBytes(hive, "previous hive"));
    EXPECT_TRUE(ORRegistryUtil::SaveRegKeyPath(HKEY_CURRENT_USER, kTree, hive.c_str()));
    std::string bytes;
    ReadFileBytes(hive, bytes);
    EXPECT_NE("previous hive", bytes);

    std::string locked = folder / "ReadOnly.txt";
    ASSERT_TRUE(WriteFileBytes(locked, "keep"));
    SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(ORRegistryUtil::SaveRegKeyPath(HKEY_CURRENT_USER, kTree, locked.c_str()));
    SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(RegistryFixture, MissingOrDamagedHiveLeavesTheKeyAsItWas) {
    BuildTree(kTree);
    std::string before = Dump();
    EXPECT_FALSE(ORRegistryUtil::RestoreRegKeyPath(HKEY_CURRENT_USER, kTree, (folder / "none.txt").c_str()));
    EXPECT_EQ(before, Dump());

    for (const std::string& damaged : {std::string("this is not a hive\r\n"), std::string(),
                                       std::string("WINE REGISTRY Version 2\n#arch=win64\n[x\n")}) {
        ASSERT_TRUE(WriteFileBytes(hive, damaged));
        EXPECT_FALSE(ORRegistryUtil::RestoreRegKeyPath(HKEY_CURRENT_USER, kTree, hive.c_str()));
        EXPECT_EQ(before, Dump());
        EXPECT_FALSE(KeyExists(HKEY_USERS, ORRegistryUtil::kMountName));
    }
}

TEST_F(RegistryFixture, TruncatedHiveLeavesTheKeyAsItWas) {
    BuildTree(kTree);
    ASSERT_TRUE(ORRegistryUtil::SaveRegKeyPath(HKEY_CURRENT_USER, kTree, hive.c_str()));
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(hive, bytes));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kTree, "Current Only", "still here"));
    std::string before = Dump();
    ASSERT_TRUE(WriteFileBytes(hive, bytes.substr(0, bytes.size() / 3)));
    bool restored = ORRegistryUtil::RestoreRegKeyPath(HKEY_CURRENT_USER, kTree, hive.c_str());
    // A cut hive either fails, leaving the old tree, or loads what it holds;
    // never a deleted or half-replaced key with a success report missing.
    if (!restored) EXPECT_EQ(before, Dump());
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kTree));
}

TEST_F(RegistryFixture, StaleTempHiveIsRecovered) {
    BuildTree(kTree);
    std::string saved = Dump();
    ASSERT_TRUE(ORRegistryUtil::SaveRegKeyPath(HKEY_CURRENT_USER, kTree, hive.c_str()));
    // An interrupted restore left its mount behind.
    std::string stale = folder / "Stale.txt";
    ASSERT_TRUE(CopyFileA(hive.c_str(), stale.c_str(), FALSE));
    ORRegistryUtil::EnablePrivilege(SE_RESTORE_NAME, true);
    ORRegistryUtil::EnablePrivilege(SE_BACKUP_NAME, true);
    ASSERT_EQ(ERROR_SUCCESS, RegLoadKeyA(HKEY_USERS, ORRegistryUtil::kMountName, stale.c_str()));
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, kTree, "POP3 Port", 25));
    EXPECT_TRUE(ORRegistryUtil::RestoreRegKeyPath(HKEY_CURRENT_USER, kTree, hive.c_str()));
    EXPECT_EQ(saved, Dump());
    EXPECT_FALSE(KeyExists(HKEY_USERS, ORRegistryUtil::kMountName));
}

TEST_F(RegistryFixture, DeleteRegKeyTree) {
    EXPECT_EQ(ERROR_BADKEY, ORRegistryUtil::DeleteRegKeyTree(HKEY_CURRENT_USER, ""));
    EXPECT_EQ(ERROR_BADKEY, ORRegistryUtil::DeleteRegKeyTree(HKEY_CURRENT_USER, nullptr));
    BuildTree(kTree);
    EXPECT_EQ(ERROR_SUCCESS, ORRegistryUtil::DeleteRegKeyTree(HKEY_CURRENT_USER, kTree));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kTree));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\VelmoraRegTest"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ORRegistryUtil::DeleteRegKeyTree(HKEY_CURRENT_USER, kTree));
}

TEST_F(RegistryFixture, CopyRegKeyTreeCopiesValuesSubkeysAndClasses) {
    BuildTree(kTree);
    HKEY source, target;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, kTree, 0, KEY_READ, &source));
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\VelmoraRegTest\\Copy", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &target, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, ORRegistryUtil::CopyRegKeyTree(target, source));
    RegCloseKey(source);
    RegCloseKey(target);
    EXPECT_EQ(Dump(), DumpKeyTree(HKEY_CURRENT_USER, "Software\\VelmoraRegTest\\Copy"));
    char keyClass[64] = {};
    DWORD classSize = sizeof(keyClass);
    HKEY child;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\VelmoraRegTest\\Copy\\Accounts\\00000001",
                                           0, KEY_READ, &child));
    RegQueryInfoKeyA(child, keyClass, &classSize, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr);
    RegCloseKey(child);
    EXPECT_STREQ("MailClass", keyClass);
}

TEST_F(RegistryFixture, ValueAccess) {
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kProductKey, "UI Language", "KOR"));
    std::string text = "unchanged";
    EXPECT_TRUE(ORRegistryUtil::ReadStringFromRegistry(HKEY_CURRENT_USER, kProductKey, "UI Language", text));
    EXPECT_EQ("KOR", text);

    // A 300-byte string does not fit the 256-byte buffer: fails, leaves the text.
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kProductKey, "Long", std::string(299, 'L')));
    text = "unchanged";
    EXPECT_FALSE(ORRegistryUtil::ReadStringFromRegistry(HKEY_CURRENT_USER, kProductKey, "Long", text));
    EXPECT_EQ("unchanged", text);
    // Exactly 256 bytes with its terminator still fits.
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kProductKey, "Edge", std::string(255, 'E')));
    EXPECT_TRUE(ORRegistryUtil::ReadStringFromRegistry(HKEY_CURRENT_USER, kProductKey, "Edge", text));
    EXPECT_EQ(std::string(255, 'E'), text);

    EXPECT_TRUE(ORRegistryUtil::WriteDwordToRegistry(HKEY_CURRENT_USER, kProductKey, "LogLevel", 2));
    DWORD value = 0;
    EXPECT_TRUE(ORRegistryUtil::ReadDwordFromRegistry(HKEY_CURRENT_USER, kProductKey, "LogLevel", value));
    EXPECT_EQ(2u, value);
    EXPECT_FALSE(ORRegistryUtil::ReadDwordFromRegistry(HKEY_CURRENT_USER, kProductKey, "Missing", value));

    EXPECT_FALSE(ORRegistryUtil::RegKeyExists(nullptr, kProductKey));
    EXPECT_FALSE(ORRegistryUtil::RegKeyExists(HKEY_CURRENT_USER, ""));
    EXPECT_TRUE(ORRegistryUtil::RegKeyExists(HKEY_CURRENT_USER, kProductKey));
}

TEST_F(RegistryFixture, WriteDwordNeverCreatesKeysAndLogsTheError) {
    ScratchFolder logFolder;
    std::string logPath = logFolder / "reg.log";
    ASSERT_TRUE(g_Log.OpenLogFile(logPath.c_str(), true));
    g_Log.SetLogLevel(1);
    EXPECT_FALSE(ORRegistryUtil::WriteDwordToRegistry(HKEY_CURRENT_USER, "Software\\Nowhere", "LogLevel", 1));
    g_Log.Close();
    g_Log.SetLogLevel(0);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\Nowhere"));
    std::string text;
    ReadFileBytes(logPath, text);
    EXPECT_NE(std::string::npos, text.find("\tError\tRegOpenKeyEx call has failed with error = 2.\r\n")) << text;
}

TEST_F(RegistryFixture, FileExists) {
    EXPECT_FALSE(ORRegistryUtil::FileExists((folder / "nothing").c_str()));
    ASSERT_TRUE(WriteFileBytes(folder / "something", "x"));
    EXPECT_TRUE(ORRegistryUtil::FileExists((folder / "something").c_str()));
}

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "Log.h"
#include "ORRegistryUtil.h"
#include "TestSupport.h"

using namespace testsupport;

namespace {
struct LogFixture : ::testing::Test {
    ScratchFolder folder;
    std::string path = folder / "test.log";
    CLog log;

    std::string Contents() {
        std::string text;
        ReadFileBytes(path, text);
        return text;
    }
};

// "YYYY-MM-DD HH:MM:SS" then the rest of the line.
void ExpectTimestamp(const std::string& line) {
    ASSERT_GE(line.size(), 20u);
    for (int i : {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18}) EXPECT_TRUE(isdigit(line[i])) << line;
    EXPECT_EQ('-', line[4]);
    EXPECT_EQ(' ', line[10]);
    EXPECT_EQ(':', line[13]);
    EXPECT_EQ('\t', line[19]);
}
}  // namespace

TEST_F(LogFixture, LevelTableDecidesWhichLinesPass) {
    struct Case { int level; const char* expected; } cases[] = {
        {0, ""}, {1, "E"}, {2, "EI"}, {3, "EID"}};
    for (const Case& c : cases) {
        ASSERT_TRUE(log.OpenLogFile(path.c_str(), true));
        log.SetLogLevel(c.level);
        log.LogError("E");
        log.LogInfo("I");
        log.LogDevInfo("D");
        log.Close();
        std::string text = Contents(), seen;
        for (size_t pos = 0; (pos = text.find("\r\n", pos)) != std::string::npos; pos += 2)
            seen += text[pos - 1];
        EXPECT_EQ(c.expected, seen) << "level " << c.level;
    }
}

TEST_F(LogFixture, LineFormatsAtEachLevel) {
    ASSERT_TRUE(log.OpenLogFile(path.c_str(), true));
    log.SetLogLevel(2);
    log.LogAt("C:\\src\\Plugins\\core\\Thing.cpp", 42, CLog::Error, "failed with %d on %s", 5, "x");
    log.LogAt("C:\\src\\Thing.cpp", 43, CLog::Info, "info");
    log.SetLogLevel(3);
    log.LogAt("C:\\src\\Plugins\\core\\Thing.cpp", 44, CLog::DevInfo, "dev");
    log.Close();
    std::string text = Contents();
    size_t first = text.find("\r\n"), second = text.find("\r\n", first + 2);
    std::string l1 = text.substr(0, first);
    std::string l2 = text.substr(first + 2, second - first - 2);
    std::string l3 = text.substr(second + 2, text.size() - second - 4);
    ExpectTimestamp(l1);
    EXPECT_EQ("\tError\tfailed with 5 on x", l1.substr(19));
    EXPECT_EQ("\tInfo\tinfo", l2.substr(19));
    EXPECT_EQ("\tDevInfo\tThing.cpp, 44\tdev", l3.substr(19));
    EXPECT_EQ("\r\n", text.substr(text.size() - 2));
}

TEST_F(LogFixture, MessagesAreOneLineAndCutAt1024Characters) {
    ASSERT_TRUE(log.OpenLogFile(path.c_str(), true));
    log.SetLogLevel(1);
    log.LogError("a\r\nb\nc\rd");
    std::string longText(2000, 'x');
    log.LogError("%s", longText.c_str());
    log.Close();
    std::string text = Contents();
    EXPECT_NE(std::string::npos, text.find("\tError\ta||b|c|d\r\n"));
    size_t start = text.find("\tError\txxx");
    ASSERT_NE(std::string::npos, start);
    std::string line = text.substr(start + 7, text.find("\r\n", start) - start - 7);
    EXPECT_EQ(std::string(1024, 'x'), line);
}

TEST_F(LogFixture, LastErrorSurvivesLoggingWhetherOrNotTheLinePasses) {
    ASSERT_TRUE(log.OpenLogFile(path.c_str(), true));
    for (int level : {0, 1, 3}) {
        log.SetLogLevel(level);
        SetLastError(1234);
        log.LogError("a line that %s", "opens nothing");
        EXPECT_EQ(1234u, GetLastError()) << level;
        SetLastError(87);
        log.LogAt(__FILE__, __LINE__, CLog::DevInfo, "x");
        EXPECT_EQ(87u, GetLastError()) << level;
    }
}

TEST_F(LogFixture, AppendKeepsOldLinesTruncateEmpties) {
    ASSERT_TRUE(WriteFileBytes(path, "old line\r\n"));
    ASSERT_TRUE(log.OpenLogFile(path.c_str(), false));
    log.SetLogLevel(1);
    log.LogError("new");
    log.Close();
    EXPECT_EQ(0u, Contents().find("old line\r\n"));
    ASSERT_TRUE(log.OpenLogFile(path.c_str(), true));
    log.Close();
    EXPECT_EQ("", Contents());
}

TEST_F(LogFixture, EachLineReachesTheDiskAtOnce) {
    ASSERT_TRUE(log.OpenLogFile(path.c_str(), true));
    log.SetLogLevel(1);
    log.LogError("flushed");
    // Still open: the line must already be on disk.
    EXPECT_NE(std::string::npos, Contents().find("flushed\r\n"));
}

TEST_F(LogFixture, LinesOfTwoThreadsNeverMix) {
    ASSERT_TRUE(log.OpenLogFile(path.c_str(), true));
    log.SetLogLevel(3);
    auto writer = [this](const char* file, char fill) {
        std::string message(300, fill);
        for (int i = 0; i < 300; ++i) log.LogAt(file, i, CLog::Error, "%s", message.c_str());
    };
    std::thread a(writer, "A.cpp", 'a'), b(writer, "B.cpp", 'b');
    a.join();
    b.join();
    log.Close();
    std::string text = Contents();
    int lines = 0;
    for (size_t pos = 0, end; (end = text.find("\r\n", pos)) != std::string::npos; pos = end + 2) {
        std::string line = text.substr(pos, end - pos);
        ++lines;
        // Each line's source file matches its message: the position was taken
        // in the same step as the line.
        bool isA = line.find("\tA.cpp, ") != std::string::npos;
        bool isB = line.find("\tB.cpp, ") != std::string::npos;
        ASSERT_TRUE(isA != isB) << line;
        ASSERT_NE(std::string::npos, line.find(std::string(300, isA ? 'a' : 'b'))) << line;
    }
    EXPECT_EQ(600, lines);
}

TEST_F(LogFixture, NoStreamDropsLinesQuietly) {
    log.SetLogLevel(3);
    SetLastError(5);
    log.LogError("nowhere");
    EXPECT_EQ(5u, GetLastError());
    EXPECT_FALSE(log.OpenLogFile((folder / "missing\\dir\\x.log").c_str(), false));
    log.LogError("still nowhere");
}

// Start-up configuration: folder, size rule and level default.
struct LogStartupFixture : ::testing::Test {
    ScratchRegistry registry;
    CLog log;
    std::string LogPath() {
        char appData[MAX_PATH] = {};
        SHGetSpecialFolderPathA(nullptr, appData, CSIDL_APPDATA, TRUE);
        return std::string(appData) + "\\Velmora\\VelmoraTest.log";
    }
    void TearDown() override {
        log.Close();
        DeleteFileA(LogPath().c_str());
    }
};

TEST_F(LogStartupFixture, FileOfExactly3MiBIsAppendedOneByteMoreIsEmptied) {
    for (unsigned long size : {3145728ul, 3145729ul}) {
        char appData[MAX_PATH] = {};
        ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, appData, CSIDL_APPDATA, TRUE));
        CreateDirectoryA((std::string(appData) + "\\Velmora").c_str(), nullptr);
        ASSERT_TRUE(WriteFileBytes(LogPath(), std::string(size, 'o')));
        ConfigureModuleLog(log, "\\VelmoraTest.log", false);
        log.LogError("after start-up");
        log.Close();
        std::string text;
        ReadFileBytes(LogPath(), text);
        if (size == 3145728ul)
            EXPECT_EQ(std::string(size, 'o'), text.substr(0, size));
        else
            EXPECT_LT(text.size(), 1000u) << "not emptied";
        EXPECT_NE(std::string::npos, text.find("after start-up"));
    }
}

TEST_F(LogStartupFixture, LevelComesFromLogLevelWithDefaultOne) {
    // Missing value, key present: level 1 and written back as 1.
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kProductKey, "UI Language", "ENU"));
    ConfigureModuleLog(log, "\\VelmoraTest.log", false);
    EXPECT_EQ(1, log.GetLogLevel());
    DWORD stored = 0;
    EXPECT_TRUE(ORRegistryUtil::ReadDwordFromRegistry(HKEY_CURRENT_USER, kProductKey, "LogLevel", stored));
    EXPECT_EQ(1u, stored);

    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, kProductKey, "LogLevel", 7));
    ConfigureModuleLog(log, "\\VelmoraTest.log", false);
    EXPECT_EQ(1, log.GetLogLevel());

    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, kProductKey, "LogLevel", 3));
    ConfigureModuleLog(log, "\\VelmoraTest.log", false);
    EXPECT_EQ(3, log.GetLogLevel());
    log.Close();
    std::string text;
    ReadFileBytes(LogPath(), text);
    EXPECT_NE(std::string::npos, text.find("\tDevInfo\tLog.cpp, "));
    EXPECT_NE(std::string::npos, text.find("Velmora Logging has been initialized successfully.\r\n"));
}

TEST_F(LogStartupFixture, MissingProductKeyIsNotCreated) {
    ConfigureModuleLog(log, "\\VelmoraTest.log", false);
    EXPECT_EQ(1, log.GetLogLevel());
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kProductKey));
}

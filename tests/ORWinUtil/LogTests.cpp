#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "Log.h"
#include "ORRegistryUtil.h"
#include "TestSupport.h"

using namespace testsupport;

namespace {
std::string Contents(const std::string& path) {
    std::string text;
    return ReadFileBytes(path, text) ? text : std::string();
}
}  // namespace

// Level n passes the kinds up to n. A line: local time, kind, the source
// position at level 3 only, the message on one line cut at 1024 characters.
// Each line is on disk at once; logging keeps the caller's last error.
TEST(Log, LevelsAndLineFormat) {
    ScratchFolder folder;
    const std::string path = folder / "test.log";
    CLog log;
    ASSERT_TRUE(log.OpenLogFile(path.c_str(), true));
    for (int level = 0; level <= 3; ++level) {
        log.SetLogLevel(level);
        log.LogError("E%d", level);
        log.LogInfo("I%d", level);
        log.LogDevInfo("D%d", level);
    }
    std::string text = Contents(path), seen;   // still open
    for (size_t pos = 0; (pos = text.find("\r\n", pos)) != std::string::npos; pos += 2) seen += text.substr(pos - 2, 2);
    EXPECT_EQ("E1E2I2E3I3D3", seen);
    EXPECT_NE(std::string::npos, text.find("\tError\tE2\r\n"));   // no source position below level 3

    ASSERT_TRUE(log.OpenLogFile(path.c_str(), true));
    SetLastError(1234);
    log.LogAt("C:\\src\\core\\Thing.cpp", 42, CLog::Error, "failed with %d on %s,\r\nagain\n", 5, "x");
    log.LogInfo("%s", std::string(2000, 'x').c_str());
    EXPECT_EQ(1234u, GetLastError());
    text = Contents(path);
    const std::string first = "\tError\tThing.cpp, 42\tfailed with 5 on x,||again|\r\n";
    EXPECT_EQ(first, text.substr(19, first.size()));
    EXPECT_NE(std::string::npos, text.find("\t" + std::string(1024, 'x') + "\r\n"));

    // A name from an archive can neither start a line of its own nor send a
    // terminal escape: every control byte is written as \xNN, characters of
    // the code page stay as they are.
    ASSERT_TRUE(log.OpenLogFile(path.c_str(), true));
    log.LogError("Refused %s.", "In\x1b[2Jbox\t\x7f\x01\xe9t\xe9\x1b]0;title\x07");
    std::string escapes;
    for (int i = 0; i < 1024; ++i) escapes += "\\x01";
    log.LogError("%s", std::string(1500, '\x01').c_str());   // cut at 1024, then each byte escaped
    text = Contents(path);
    EXPECT_NE(std::string::npos, text.find("\tRefused In\\x1b[2Jbox\\x09\\x7f\\x01\xe9t\xe9\\x1b]0;title\\x07.\r\n")) << text;
    EXPECT_NE(std::string::npos, text.find("\t" + escapes + "\r\n"));
    for (unsigned char c : text) EXPECT_TRUE(c >= 0x20 || c == '\t' || c == '\r' || c == '\n') << static_cast<int>(c);
}

// The position is taken in the same locked step as the line it belongs to.
TEST(Log, LinesOfTwoThreadsNeverMix) {
    ScratchFolder folder;
    CLog log;
    ASSERT_TRUE(log.OpenLogFile((folder / "test.log").c_str(), true));
    log.SetLogLevel(3);
    auto writer = [&log](const char* file, char fill) {
        for (int i = 0; i < 300; ++i) log.LogAt(file, i, CLog::Error, "%s", std::string(300, fill).c_str());
    };
    std::thread a(writer, "A.cpp", 'a'), b(writer, "B.cpp", 'b');
    a.join();
    b.join();
    std::string text = Contents(folder / "test.log");
    int lines = 0;
    for (size_t pos = 0, end; (end = text.find("\r\n", pos)) != std::string::npos; pos = end + 2, ++lines) {
        bool isA = text.compare(pos + 19, 8, "\tError\tA") == 0;
        ASSERT_EQ(std::string(isA ? "A.cpp, " : "B.cpp, "), text.substr(pos + 26, 7));
        ASSERT_EQ(std::string(300, isA ? 'a' : 'b'), text.substr(end - 300, 300));
    }
    EXPECT_EQ(600, lines);
}

// The file is appended to up to 3 MiB and emptied above. The level: 1 without
// the product key (which is not created), 1 written back when the value is
// missing, 1 when out of range, else the stored level.
TEST(Log, StartupSizeRuleAndLevel) {
    ScratchRegistry registry;
    CLog log;
    ConfigureModuleLog(log, "\\VelmoraTest.log", false);
    EXPECT_EQ(1, log.GetLogLevel());
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kProductKey));
    const std::string path = log.GetPath();
    for (size_t size : {size_t(3145728), size_t(3145729)}) {
        ASSERT_TRUE(WriteFileBytes(path, std::string(size, 'o')));
        ConfigureModuleLog(log, "\\VelmoraTest.log", false);
        log.LogError("after start-up");
        log.Close();
        const size_t at = Contents(path).find("after start-up");   // after the old text only when kept
        EXPECT_EQ(size == 3145728 ? size + 26 : 26, at) << size;
    }
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kProductKey, "UI Language", "ENU"));
    for (DWORD level : {0u, 7u, 3u}) {
        DWORD stored = 0;
        if (level) ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, kProductKey, "LogLevel", level));
        ConfigureModuleLog(log, "\\VelmoraTest.log", false);
        log.Close();
        EXPECT_EQ(level == 3 ? 3 : 1, log.GetLogLevel()) << level;
        EXPECT_TRUE(ORRegistryUtil::ReadDwordFromRegistry(HKEY_CURRENT_USER, kProductKey, "LogLevel", stored));
        EXPECT_EQ(level ? level : 1, stored);
    }
    DeleteFileA(path.c_str());
}

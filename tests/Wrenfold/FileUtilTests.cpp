#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "FileUtil.h"
#include "Log.h"
#include "TestSupport.h"

using namespace testsupport;

namespace {
class CRecordingSink : public ICopyFolderSink {
public:
    void OnFileCopied(const char* targetPath, bool copied) override {
        files.push_back(std::string(copied ? "+" : "-") + targetPath);
    }
    bool IsCancelled() override { return cancelAfter >= 0 && static_cast<int>(files.size()) >= cancelAfter; }
    std::vector<std::string> files;
    int cancelAfter = -1;
};

struct FileUtilTest : ::testing::Test {
    ScratchFolder scratch;
    std::string log = scratch / "test.log";
    void SetUp() override {
        ASSERT_TRUE(g_Log.OpenLogFile(log.c_str(), true));
        g_Log.SetLogLevel(3);
    }
    void TearDown() override { g_Log.Close(); }
    std::string LogText() {
        std::string text;
        ReadFileBytes(log, text);
        return text;
    }
    void MakeSource() {
        ASSERT_TRUE(MakeDirs(scratch / "src\\s"));
        ASSERT_TRUE(WriteFileBytes(scratch / "src\\a", "alpha"));
        ASSERT_TRUE(WriteFileBytes(scratch / "src\\b", std::string(100000, 'b')));
        ASSERT_TRUE(WriteFileBytes(scratch / "src\\s\\c", "charlie"));
    }
};
}  // namespace

TEST_F(FileUtilTest, CopyFolderCopiesTheTreeAndReportsEachFile) {
    MakeSource();
    CRecordingSink sink;
    ASSERT_TRUE(CopyFolder((scratch / "src").c_str(), (scratch / "dst").c_str(), &sink, "CopyFile call failed with %d."));
    EXPECT_EQ(ReadTree(scratch / "src"), ReadTree(scratch / "dst"));
    std::vector<std::string> expected = {"+" + scratch / "dst\\a", "+" + scratch / "dst\\b",
                                         "+" + scratch / "dst\\s\\c"};
    std::sort(sink.files.begin(), sink.files.end());
    EXPECT_EQ(expected, sink.files);
}

TEST_F(FileUtilTest, CopyFolderGoesOnPastALockedFileAndLogsItsError) {
    MakeSource();
    CHandle lock(CreateFileA((scratch / "src\\a").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(lock.IsValid());
    CRecordingSink sink;
    ASSERT_TRUE(CopyFolder((scratch / "src").c_str(), (scratch / "dst").c_str(), &sink, "CopyFile call failed with %d."));
    std::sort(sink.files.begin(), sink.files.end());
    std::vector<std::string> expected = {"+" + scratch / "dst\\b", "+" + scratch / "dst\\s\\c",
                                         "-" + scratch / "dst\\a"};
    EXPECT_EQ(expected, sink.files);
    EXPECT_FALSE(FileExistsAt(scratch / "dst\\a"));
    EXPECT_TRUE(FileExistsAt(scratch / "dst\\s\\c"));
    EXPECT_NE(std::string::npos, LogText().find("CopyFile call failed with 32."));
}

TEST_F(FileUtilTest, CopyFolderStartUpFailures) {
    CRecordingSink sink;
    EXPECT_FALSE(CopyFolder((scratch / "missing").c_str(), (scratch / "dst").c_str(), &sink, "%d"));
    EXPECT_FALSE(DirExistsAt(scratch / "dst"));
    EXPECT_NE(std::string::npos, LogText().find("Failed to find the first file to copy."));
    MakeSource();
    EXPECT_FALSE(CopyFolder((scratch / "src").c_str(), (scratch / "no\\such\\dst").c_str(), &sink, "%d"));
    EXPECT_NE(std::string::npos, LogText().find("Failed to create a folder " + scratch / "no\\such\\dst" + "."));
    EXPECT_TRUE(sink.files.empty());
}

TEST_F(FileUtilTest, CopyFolderStopsWhenCancelled) {
    MakeSource();
    CRecordingSink sink;
    sink.cancelAfter = 1;
    EXPECT_FALSE(CopyFolder((scratch / "src").c_str(), (scratch / "dst").c_str(), &sink, "%d"));
    EXPECT_EQ(1u, sink.files.size());
}

TEST_F(FileUtilTest, DeleteFolderTreeRemovesReadOnlyFilesAndFailsOnMissingFolder) {
    MakeSource();
    ASSERT_TRUE(SetFileAttributesA((scratch / "src\\s\\c").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(DeleteFolderTree((scratch / "src").c_str()));
    EXPECT_FALSE(DirExistsAt(scratch / "src"));
    EXPECT_FALSE(DeleteFolderTree((scratch / "src").c_str()));
}

TEST_F(FileUtilTest, DeleteFolderTreeStopsAtAFileInUse) {
    MakeSource();
    CHandle lock(CreateFileA((scratch / "src\\s\\c").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(lock.IsValid());
    EXPECT_FALSE(DeleteFolderTree((scratch / "src").c_str()));
    EXPECT_TRUE(FileExistsAt(scratch / "src\\s\\c"));
}

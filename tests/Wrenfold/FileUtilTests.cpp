#include <windows.h>

#include <gtest/gtest.h>

#include "FileUtil.h"
#include "TestSupport.h"

using namespace testsupport;

namespace {
// Cancels once it has seen `limit` files.
struct CCancellingSink : ICopyFolderSink {
    void OnFileCopied(const char*, bool) override { ++files; }
    bool IsCancelled() override { return files >= limit; }
    int files = 0, limit = 1;
};
}  // namespace

// The worker's cancel reaches the copy of a data folder between files, not
// only after the whole folder.
TEST(FileUtil, CopyFolderStopsWhenCancelled) {
    ScratchFolder scratch;
    ASSERT_TRUE(MakeDirs(scratch / "src\\s"));
    for (const char* file : {"src\\a", "src\\b", "src\\s\\c"}) ASSERT_TRUE(WriteFileBytes(scratch / file, file));
    CCancellingSink sink;
    EXPECT_FALSE(CopyFolder((scratch / "src").c_str(), (scratch / "dst").c_str(), &sink, "%d"));
    EXPECT_EQ(1, sink.files);
    sink.limit = 99;
    EXPECT_TRUE(CopyFolder((scratch / "src").c_str(), (scratch / "dst").c_str(), &sink, "%d"));
    EXPECT_EQ(ReadTree(scratch / "src"), ReadTree(scratch / "dst"));
}

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FileUtil.h"
#include "TestSupport.h"

using namespace testsupport;

namespace {
// Cancels when asked for the cancelAt-th time (0: never); counts the files.
struct CountingSink : ICopyFolderSink {
    unsigned asked = 0, cancelAt = 0, copied = 0, failed = 0;
    void OnFileCopied(const char*, bool ok) override { ++(ok ? copied : failed); }
    bool IsCancelled() override { return cancelAt && ++asked >= cancelAt; }
};

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : ReadTree(folder)) names.push_back(entry.first);
    return names;
}
}  // namespace

// A plain copy keeps data, last write time and attributes and replaces an older
// file; a hidden file in the way is refused as CopyFile refuses it, and the walk
// goes on. Nothing but the copied files is left in the target.
TEST(InterruptCopy, CopyKeepsDataTimeAndAttributesAndLeavesNoTemporaryFile) {
    ScratchFolder folder;
    const std::string source = folder / "Store", target = folder / "Copy";
    ASSERT_TRUE(MakeDirs(source + "\\Sub") && MakeDirs(target));
    std::string big(3 * 1024 * 1024 + 17, 'x');
    for (size_t i = 0; i < big.size(); i += 4093) big[i] = static_cast<char>(i);
    ASSERT_TRUE(WriteFileBytes(source + "\\Inbox.dbx", big));
    ASSERT_TRUE(WriteFileBytes(source + "\\Sub\\Empty.dbx", ""));
    ASSERT_TRUE(WriteFileBytes(source + "\\Hidden.dbx", "new"));
    ASSERT_TRUE(SetFileAttributesA((source + "\\Sub\\Empty.dbx").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(WriteFileBytes(target + "\\Inbox.dbx", "older"));
    ASSERT_TRUE(WriteFileBytes(target + "\\Hidden.dbx", "kept"));
    ASSERT_TRUE(SetFileAttributesA((target + "\\Hidden.dbx").c_str(), FILE_ATTRIBUTE_HIDDEN));

    CountingSink sink;
    EXPECT_TRUE(CopyFolder(source.c_str(), target.c_str(), &sink, "copy failed %d"));
    EXPECT_EQ(2u, sink.copied);
    EXPECT_EQ(1u, sink.failed);
    std::string bytes;
    EXPECT_TRUE(ReadFileBytes(target + "\\Inbox.dbx", bytes) && bytes == big);
    EXPECT_TRUE(ReadFileBytes(target + "\\Hidden.dbx", bytes) && bytes == "kept");
    EXPECT_EQ(FILE_ATTRIBUTE_READONLY,
              GetFileAttributesA((target + "\\Sub\\Empty.dbx").c_str()) & FILE_ATTRIBUTE_READONLY);
    WIN32_FILE_ATTRIBUTE_DATA from = {}, to = {};
    ASSERT_TRUE(GetFileAttributesExA((source + "\\Inbox.dbx").c_str(), GetFileExInfoStandard, &from));
    ASSERT_TRUE(GetFileAttributesExA((target + "\\Inbox.dbx").c_str(), GetFileExInfoStandard, &to));
    EXPECT_EQ(0, CompareFileTime(&from.ftLastWriteTime, &to.ftLastWriteTime));
    EXPECT_EQ((std::vector<std::string>{"Hidden.dbx", "Inbox.dbx", "Sub\\Empty.dbx"}), Names(target));
    SetFileAttributesA((target + "\\Sub\\Empty.dbx").c_str(), FILE_ATTRIBUTE_NORMAL);
    SetFileAttributesA((source + "\\Sub\\Empty.dbx").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// Cancel in the middle of a large file stops after a chunk or two, not at the
// end of the file: no partial file, the file it would have replaced as it was.
TEST(InterruptCopy, CancelStopsInsideALargeFileAndLeavesNoPartialFile) {
    ScratchFolder folder;
    const std::string source = folder / "Store", target = folder / "Copy";
    ASSERT_TRUE(MakeDirs(source) && MakeDirs(target));
    const size_t size = 64 * 1024 * 1024;
    {
        HANDLE file = CreateFileA((source + "\\Big.dbx").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        LARGE_INTEGER end;
        end.QuadPart = size;
        EXPECT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file));
        CloseHandle(file);
    }
    ASSERT_TRUE(WriteFileBytes(target + "\\Big.dbx", "the copy of last time"));

    CountingSink sink;
    sink.cancelAt = 4;   // before the file, after its first chunks
    EXPECT_FALSE(CopyFolder(source.c_str(), target.c_str(), &sink, "copy failed %d"));
    EXPECT_LT(sink.asked, size / (1024 * 1024) / 2) << "the whole file was read before Cancel was seen";
    std::string bytes;
    EXPECT_TRUE(ReadFileBytes(target + "\\Big.dbx", bytes) && bytes == "the copy of last time");
    EXPECT_EQ(std::vector<std::string>{"Big.dbx"}, Names(target));
    EXPECT_EQ(0u, sink.copied + sink.failed);
}

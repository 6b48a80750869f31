#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "FileUtil.h"
#include "Handles.h"
#include "TestSupport.h"

using namespace testsupport;


// What a killed run left is told apart from what is in use or not ours: only
// files of the process-named pattern whose process has ended go, with the
// side files of the given suffixes; a running process keeps its file.
TEST(LeftoverTempFiles, OnlyFilesOfAnEndedProcessGo) {
    ScratchFolder folder;
    char own[MAX_PATH] = {};
    ASSERT_TRUE(CreateProcessTempFile(folder.Path().c_str(), "vlh", own));
    char second[MAX_PATH] = {};
    ASSERT_TRUE(CreateProcessTempFile((folder.Path() + "\\").c_str(), "vlh", second));
    EXPECT_STRNE(own, second);
    EXPECT_EQ(0u, GetFileAttributesA(own) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));

    EndedProcess ended;
    ASSERT_NE(0u, ended.id);
    const DWORD id = ended.id;
    auto named = [&](const char* prefix, DWORD process, const char* rest) {
        return folder / ProcessTempName(prefix, process, rest);
    };
    const std::string gone[] = {named("vlh", id, "0001.tmp"),
                                named("VLH", id, "0002.TMP.log1")};
    const std::string kept[] = {named("vlh", id, "0003.tmp.bak"),
                                named("vlh", id, "0004.tmp"),   // made read-only below
                                named("vlb", id, "0005.tmp"), folder / "vlh1A2B.tmp",
                                named("vlh", id, "06.tmp"), own, second};
    for (const std::string& path : gone) ASSERT_TRUE(WriteFileBytes(path, "hive"));
    for (const std::string& path : kept)
        if (!FileExistsAt(path)) ASSERT_TRUE(WriteFileBytes(path, "not a leftover"));
    ASSERT_TRUE(SetFileAttributesA(kept[1].c_str(), FILE_ATTRIBUTE_READONLY));

    const char* const suffixes[] = {".LOG", ".LOG1", ".LOG2", nullptr};
    EXPECT_EQ(2, RemoveEndedProcessTempFiles(folder.Path().c_str(), "vlh", suffixes));
    for (const std::string& path : gone) EXPECT_FALSE(FileExistsAt(path)) << path;
    for (const std::string& path : kept) EXPECT_TRUE(FileExistsAt(path)) << path;
    SetFileAttributesA(kept[1].c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A staging folder a killed run left goes whole, with what is inside; one of
// a running process, one under a file's own name and others stay.
TEST(LeftoverTempFiles, OnlyStagingFoldersOfAnEndedProcessGo) {
    ScratchFolder folder;
    EndedProcess ended;
    ASSERT_NE(0u, ended.id);
    const std::string gone = folder / ProcessTempName("vlu", ended.id, "0001.tmp.stage");
    const std::string kept[] = {folder / ProcessTempName("vlu", GetCurrentProcessId(), "0002.tmp.stage"),
                                folder / ProcessTempName("vlu", ended.id, "0003.tmp"),
                                folder / ProcessTempName("vlu", ended.id, "0004.tmp.stage2"),
                                folder / ProcessTempName("vlb", ended.id, "0005.tmp.stage")};
    for (const std::string& path : kept) ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr)) << path;
    ASSERT_TRUE(CreateDirectoryA(gone.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((gone + "\\Main").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(gone + "\\Main\\Identity.txt", "a saved key"));
    const std::string file = folder / ProcessTempName("vlu", ended.id, "0006.tmp.stage");
    ASSERT_TRUE(WriteFileBytes(file, "a file, not a folder"));

    EXPECT_EQ(1, RemoveEndedProcessTempFolders(folder.Path().c_str(), "vlu", ".stage"));
    EXPECT_FALSE(DirExistsAt(gone));
    for (const std::string& path : kept) EXPECT_TRUE(DirExistsAt(path)) << path;
    EXPECT_TRUE(FileExistsAt(file));
}

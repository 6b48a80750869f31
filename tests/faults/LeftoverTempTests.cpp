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

    // A process that has ended; the open handle keeps its id from being reused.
    char command[] = "cmd.exe /c exit";
    STARTUPINFOA startup = {sizeof(startup)};
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                               &startup, &info));
    CHandle process(info.hProcess), thread(info.hThread);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, 30000));
    auto named = [&](const char* prefix, DWORD id, const char* rest) {
        char name[64];
        snprintf(name, sizeof(name), "%s%08lx-%s", prefix, static_cast<unsigned long>(id), rest);
        return folder / name;
    };
    const std::string gone[] = {named("vlh", info.dwProcessId, "0001.tmp"),
                                named("VLH", info.dwProcessId, "0002.TMP.log1")};
    const std::string kept[] = {named("vlh", info.dwProcessId, "0003.tmp.bak"),
                                named("vlh", info.dwProcessId, "0004.tmp"),   // made read-only below
                                named("vlb", info.dwProcessId, "0005.tmp"), folder / "vlh1A2B.tmp",
                                named("vlh", info.dwProcessId, "06.tmp"), own, second};
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

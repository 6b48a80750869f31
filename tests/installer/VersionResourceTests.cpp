// Every Velmora binary in the home directory carries the shared version
// resource, read back the way Windows' file properties read it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Handles.h"
#include "TestSupport.h"
#include "Version.h"

namespace {

struct VersionResource {
    VS_FIXEDFILEINFO fixed{};
    std::vector<char> block;
    WORD language = 0;
    WORD codePage = 0;

    bool Load(const std::string& path) {
        DWORD ignored = 0;
        DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
        if (size == 0) return false;
        block.assign(size, 0);
        if (!GetFileVersionInfoA(path.c_str(), 0, size, block.data())) return false;
        VS_FIXEDFILEINFO* info = nullptr;
        UINT len = 0;
        if (!VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&info), &len) || len < sizeof(*info))
            return false;
        fixed = *info;
        WORD* translation = nullptr;
        if (!VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                            &len) || len < 2 * sizeof(WORD))
            return false;
        language = translation[0];
        codePage = translation[1];
        return true;
    }

    std::string String(const char* name) {
        char query[128];
        snprintf(query, sizeof(query), "\\StringFileInfo\\%04x%04x\\%s", language, codePage, name);
        char* value = nullptr;
        UINT len = 0;
        if (!VerQueryValueA(block.data(), query, reinterpret_cast<void**>(&value), &len) || value == nullptr)
            return "";
        return std::string(value, strnlen(value, len));
    }
};

// Our binaries: the program, every plug-in and every satellite. The C++
// runtime DLLs beside them are not ours and carry their own resources.
std::vector<std::string> OurBinaries(const std::string& home) {
    std::vector<std::string> names = {"Velmora.exe"};
    for (const char* pattern : {"EnginePlugins\\*.dll", "VL*LocaleSatellite_*.dll"}) {
        WIN32_FIND_DATAA data;
        CFindHandle find;
        std::string folder = strchr(pattern, '\\') ? "EnginePlugins\\" : "";
        for (bool found = find.First((home + "\\" + pattern).c_str(), data); found; found = find.Next(data))
            names.push_back(folder + data.cFileName);
    }
    return names;
}

TEST(VersionResourceTests, EveryBinaryInTheHomeDirectoryNamesProductCompanyAndVersion) {
    std::string home = testsupport::WinePath(VELMORA_HOME_DIR);
    std::vector<std::string> names = OurBinaries(home);
    ASSERT_GE(names.size(), 3u) << "the program and both plug-ins are expected in " << home;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        VersionResource version;
        ASSERT_TRUE(version.Load(home + "\\" + name));
        EXPECT_EQ(MAKELONG(VELMORA_VERSION_MINOR, VELMORA_VERSION_MAJOR), static_cast<LONG>(version.fixed.dwFileVersionMS));
        EXPECT_EQ(0u, version.fixed.dwFileVersionLS);
        EXPECT_EQ(version.fixed.dwFileVersionMS, version.fixed.dwProductVersionMS);
        EXPECT_EQ(version.fixed.dwFileVersionLS, version.fixed.dwProductVersionLS);
        bool isProgram = name.size() > 4 && _stricmp(name.c_str() + name.size() - 4, ".exe") == 0;
        EXPECT_EQ(isProgram ? static_cast<DWORD>(VFT_APP) : static_cast<DWORD>(VFT_DLL), version.fixed.dwFileType);

        EXPECT_EQ("Velmora", version.String("ProductName"));
        EXPECT_EQ("Orridge", version.String("CompanyName"));
        EXPECT_EQ("1.5.0.0", version.String("FileVersion"));
        EXPECT_EQ("1.5.0.0", version.String("ProductVersion"));
        EXPECT_FALSE(version.String("FileDescription").empty());
        std::string baseName = name.substr(name.find_last_of('\\') + 1);
        EXPECT_EQ(0, _stricmp(baseName.c_str(), version.String("OriginalFilename").c_str()))
            << version.String("OriginalFilename");
    }
}

// The program's manifest, resource 1 of type 24, as the loader reads it:
// common controls 6, the execution level that gets the backup and restore
// privileges for the logged-on user, and the systems it was made for.
TEST(VersionResourceTests, ProgramCarriesItsManifest) {
    std::string path = testsupport::WinePath(VELMORA_HOME_DIR) + "\\Velmora.exe";
    struct DataFile {
        HMODULE module;
        ~DataFile() { if (module) FreeLibrary(module); }
        HMODULE Get() const { return module; }
    } program{LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)};
    ASSERT_NE(nullptr, program.Get()) << path;
    HRSRC found = FindResourceA(program.Get(), MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(nullptr, found) << "no manifest resource";
    HGLOBAL loaded = LoadResource(program.Get(), found);
    const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    ASSERT_NE(nullptr, data);
    std::string manifest(data, SizeofResource(program.Get(), found));
    EXPECT_EQ(0u, manifest.find("<?xml"));
    EXPECT_NE(std::string::npos, manifest.find("</assembly>"));
    for (const char* part : {
             "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
             "publicKeyToken=\"6595b64144ccf1df\"",
             "<requestedExecutionLevel level=\"highestAvailable\" uiAccess=\"false\"/>",
             "<supportedOS Id=\"{e2011457-1546-43c5-a5fe-008deee3d3f0}\"/>",   // Vista
             "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>"})  // 7
        EXPECT_NE(std::string::npos, manifest.find(part)) << part;
}

}  // namespace

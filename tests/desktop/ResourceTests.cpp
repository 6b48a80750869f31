// Resource interfaces of the program file and its satellites: the icon numbers
// and what the About box holds, read from the built binaries.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <commctrl.h>

#include "TestSupport.h"
#include "resource.h"

using namespace testsupport;

namespace {

#pragma pack(push, 2)
struct IconDirEntry {          // one image in an .ico file
    BYTE width, height, colors, reserved;
    WORD planes, bitCount;
    DWORD bytes, offset;
};
struct GroupIconEntry {        // the same image in an RT_GROUP_ICON resource
    BYTE width, height, colors, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ResourceBytes(HMODULE module, LPCSTR name, LPCSTR type) {
    HRSRC found = FindResourceA(module, name, type);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    return data ? std::string(data, SizeofResource(module, found)) : std::string();
}

// The images of an icon resource, in stored order, as the .ico file holds them.
std::vector<std::string> IconImages(HMODULE module, UINT id) {
    std::vector<std::string> images;
    std::string group = ResourceBytes(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */);
    if (group.size() < 6) return images;
    WORD count = *reinterpret_cast<const WORD*>(group.data() + 4);
    for (WORD i = 0; i < count && 6 + (i + 1) * sizeof(GroupIconEntry) <= group.size(); ++i) {
        const GroupIconEntry* entry = reinterpret_cast<const GroupIconEntry*>(group.data() + 6) + i;
        images.push_back(ResourceBytes(module, MAKEINTRESOURCEA(entry->id), MAKEINTRESOURCEA(3) /* RT_ICON */));
    }
    return images;
}

std::vector<std::string> IcoFileImages(const std::string& path) {
    std::vector<std::string> images;
    std::string file = ReadFileBytes(path);
    if (file.size() < 6) return images;
    WORD count = *reinterpret_cast<const WORD*>(file.data() + 4);
    for (WORD i = 0; i < count && 6 + (i + 1) * sizeof(IconDirEntry) <= file.size(); ++i) {
        const IconDirEntry* entry = reinterpret_cast<const IconDirEntry*>(file.data() + 6) + i;
        if (entry->offset + entry->bytes <= file.size()) images.push_back(file.substr(entry->offset, entry->bytes));
    }
    return images;
}

INT_PTR CALLBACK QuietDialog(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

struct Child { std::string cls; std::wstring text; int id; bool icon; };

std::vector<Child> AboutBoxChildren(HINSTANCE module) {
    std::vector<Child> children;
    // A Unicode window keeps the Korean text whatever the ANSI code page.
    HWND box = CreateDialogParamW(module, MAKEINTRESOURCEW(IDD_ABOUTBOX), nullptr, QuietDialog, 0);
    if (!box) return children;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char cls[64] = {};
        wchar_t text[128] = {};
        GetClassNameA(child, cls, sizeof(cls));
        GetWindowTextW(child, text, 128);
        bool icon = (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
        children.push_back({cls, icon ? L"" : text, GetDlgCtrlID(child), icon});
    }
    DestroyWindow(box);
    return children;
}

}  // namespace

// The icon numbers are an interface: 138 Outlook Express, 139 Outlook, 140 the
// profile, 141 the message item, 142 the open address book, 143 the account.
TEST(ProgramResources, EachIconNumberCarriesItsPicture) {
    std::string program = WinePath(VELMORA_HOME_DIR) + "\\Velmora.exe";
    HMODULE module = LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module) << program;
    std::string images = WinePath(VELMORA_SOURCE_DIR) + "\\resources\\desktop\\images\\";
    struct Case { UINT id; const char* file; };
    for (const Case& c : {Case{138, "outlook_express.ico"}, Case{139, "outlook.ico"}, Case{140, "profile.ico"},
                          Case{141, "messages.ico"}, Case{142, "address_book.ico"}, Case{143, "account.ico"}}) {
        SCOPED_TRACE(std::to_string(c.id) + " " + c.file);
        std::vector<std::string> expected = IcoFileImages(images + c.file);
        ASSERT_FALSE(expected.empty());
        EXPECT_TRUE(expected == IconImages(module, c.id));
    }
    FreeLibrary(module);
}

// Icon, one line of text and OK, in both languages.
TEST(ProgramResources, AboutBoxHoldsTheIconTheVersionLineAndOk) {
    std::string satellite = WinePath(VELMORA_HOME_DIR) + "\\VLLocaleSatellite_KOR.dll";
    HMODULE korean = LoadLibraryA(satellite.c_str());
    ASSERT_NE(nullptr, korean) << satellite;
    struct Case { HINSTANCE module; std::wstring version, ok; };
    for (const Case& c : {Case{GetModuleHandleA(nullptr), L"Velmora Version 1.5", L"OK"},
                          Case{korean, L"Velmora \uBC84\uC804 1.5", L"\uD655\uC778"}}) {
        SCOPED_TRACE(c.module == korean ? "Korean" : "English");
        std::vector<Child> children = AboutBoxChildren(c.module);
        ASSERT_EQ(3u, children.size());
        EXPECT_TRUE(children[0].icon);
        EXPECT_EQ("Static", children[1].cls);
        EXPECT_TRUE(c.version == children[1].text);
        EXPECT_EQ(IDOK, children[2].id);
        EXPECT_TRUE(c.ok == children[2].text);
    }
    FreeLibrary(korean);
}

// The banner spans the main window's page area in both languages, although the
// Korean dialog font makes that dialog wider.
TEST(ProgramResources, BannerIsAsWideAsThePagesInBothLanguages) {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_TAB_CLASSES};
    ASSERT_TRUE(InitCommonControlsEx(&controls));
    std::string satellite = WinePath(VELMORA_HOME_DIR) + "\\VLLocaleSatellite_KOR.dll";
    HMODULE korean = LoadLibraryA(satellite.c_str());
    ASSERT_NE(nullptr, korean) << satellite;
    for (HINSTANCE module : {static_cast<HINSTANCE>(GetModuleHandleA(nullptr)), korean}) {
        SCOPED_TRACE(module == korean ? "Korean" : "English");
        HWND main = CreateDialogParamW(module, MAKEINTRESOURCEW(IDD_VELMORA_DIALOG), nullptr, QuietDialog, 0);
        ASSERT_NE(nullptr, main);
        HWND banner = nullptr;
        for (HWND child = GetWindow(main, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP) banner = child;
        ASSERT_NE(nullptr, banner);
        RECT pages = {}, picture = {};
        GetWindowRect(GetDlgItem(main, IDC_MAIN_TAB), &pages);
        GetWindowRect(banner, &picture);
        EXPECT_EQ(pages.left, picture.left);
        EXPECT_EQ(pages.right, picture.right);
        EXPECT_LT(picture.bottom, pages.top);
        DestroyWindow(main);
    }
    FreeLibrary(korean);
}

// The satellite libraries and the plug-ins' own resources: every string the
// plug-ins load, in both languages, and dialog 145 as the progress dialog
// expects it.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PlugInFixture.h"
#include "TestSupport.h"

using namespace testsupport;
using namespace plugintest;

namespace {
const UINT kStringIds[] = {1000, 2000, 2001, 2002, 2003, 2004, 3000, 3001, 3002, 3003, 3004, 4000, 4001, 4002, 4003};

struct Library {
    HMODULE module;
    explicit Library(const std::string& path) : module(LoadLibraryA(path.c_str())) {}
    ~Library() { if (module) FreeLibrary(module); }
};

std::wstring LoadWide(HMODULE module, UINT id) {
    wchar_t text[512] = {};
    LoadStringW(module, id, text, 512);
    return text;
}

struct Satellite {
    const char* file;
    const char* plugIn;
    const wchar_t* client;
    bool korean;
};
const Satellite kAll[] = {
    {"VLOEPluginLocaleSatellite_ENU.dll", "Wrenfold", L"Outlook Express", false},
    {"VLOEPluginLocaleSatellite_KOR.dll", "Wrenfold", L"Outlook Express", true},
    {"VLOTPluginLocaleSatellite_ENU.dll", "Wrenmark", L"Outlook", false},
    {"VLOTPluginLocaleSatellite_KOR.dll", "Wrenmark", L"Outlook", true},
};

std::string PlugInPath(const char* plugIn) { return BuiltHome() + "\\EnginePlugins\\" + plugIn + ".dll"; }

// Header of a DLGTEMPLATEEX up to its font.
struct DialogTemplate {
    DWORD style = 0;
    int itemCount = 0, cx = 0, cy = 0, pointSize = 0;
    std::wstring font;
    std::vector<std::pair<DWORD, DWORD>> items;   // control id, style
};

const WORD* SkipSzOrOrd(const WORD* p) {
    if (*p == 0xFFFF) return p + 2;
    while (*p) ++p;
    return p + 1;
}

bool ReadDialogTemplate(HMODULE module, LANGID language, DialogTemplate& out) {
    HRSRC resource = FindResourceExA(module, MAKEINTRESOURCEA(5) /* RT_DIALOG */, MAKEINTRESOURCEA(145), language);
    if (!resource) return false;
    const WORD* p = static_cast<const WORD*>(LockResource(LoadResource(module, resource)));
    if (!p || p[0] != 1 || p[1] != 0xFFFF) return false;   // DLGTEMPLATEEX
    out.style = *reinterpret_cast<const DWORD*>(p + 6);
    out.itemCount = p[8];
    out.cx = static_cast<short>(p[11]);
    out.cy = static_cast<short>(p[12]);
    p = SkipSzOrOrd(SkipSzOrOrd(SkipSzOrOrd(p + 13)));     // menu, class, title
    out.pointSize = p[0];
    out.font = reinterpret_cast<const wchar_t*>(p + 3);
    p = SkipSzOrOrd(p + 3);
    for (int i = 0; i < out.itemCount; ++i) {
        // DLGITEMTEMPLATEEX, DWORD-aligned: help id, ex style, style, x, y, cx, cy, id, class, title, extra.
        p = reinterpret_cast<const WORD*>((reinterpret_cast<ULONG_PTR>(p) + 3) & ~ULONG_PTR(3));
        const DWORD* words = reinterpret_cast<const DWORD*>(p);
        out.items.emplace_back(words[5], words[2]);
        p = SkipSzOrOrd(SkipSzOrOrd(p + 12));
        p += 1 + *p / sizeof(WORD);
    }
    return true;
}

INT_PTR CALLBACK QuietDialogProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

RECT DialogUnits(HWND dialog, int x, int y, int cx, int cy) {
    RECT rect = {x, y, x + cx, y + cy};
    MapDialogRect(dialog, &rect);
    return rect;
}

RECT ControlRect(HWND dialog, int id) {
    RECT rect = {};
    HWND control = GetDlgItem(dialog, id);
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

bool SameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::string ClassOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof(name));
    return name;
}

void CheckProgressDialog(HMODULE module, LANGID language, const std::string& what) {
    SCOPED_TRACE(what);
    DialogTemplate dialogTemplate;
    ASSERT_TRUE(ReadDialogTemplate(module, language, dialogTemplate));
    EXPECT_EQ(187, dialogTemplate.cx);
    EXPECT_EQ(70, dialogTemplate.cy);
    EXPECT_EQ(3, dialogTemplate.itemCount);
    EXPECT_EQ(8, dialogTemplate.pointSize);
    EXPECT_TRUE(dialogTemplate.font == L"MS Shell Dlg");
    const DWORD frame = DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU;
    EXPECT_EQ(frame, dialogTemplate.style & frame);

    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    HWND dialog = CreateDialogParamA(module, MAKEINTRESOURCEA(145), nullptr, QuietDialogProc, 0);
    ASSERT_NE(nullptr, dialog);
    RECT client = {};
    GetClientRect(dialog, &client);
    EXPECT_TRUE(SameRect(DialogUnits(dialog, 0, 0, 187, 70), client));
    EXPECT_EQ("Static", ClassOf(GetDlgItem(dialog, 1026)));
    EXPECT_TRUE(SameRect(DialogUnits(dialog, 7, 7, 172, 8), ControlRect(dialog, 1026)));
    HWND bar = GetDlgItem(dialog, 1018);
    EXPECT_EQ(0, lstrcmpiA("msctls_progress32", ClassOf(bar).c_str()));
    // The control turns its border into an edge of its own, so look at the template.
    ASSERT_EQ(3u, dialogTemplate.items.size());
    EXPECT_EQ(1018u, dialogTemplate.items[1].first);
    EXPECT_TRUE(dialogTemplate.items[1].second & WS_BORDER);
    EXPECT_TRUE(SameRect(DialogUnits(dialog, 7, 25, 172, 14), ControlRect(dialog, 1018)));
    HWND cancel = GetDlgItem(dialog, IDCANCEL);
    EXPECT_EQ("Button", ClassOf(cancel));
    EXPECT_TRUE(GetWindowLongA(cancel, GWL_STYLE) & WS_TABSTOP);
    EXPECT_TRUE(SameRect(DialogUnits(dialog, 129, 50, 50, 14), ControlRect(dialog, IDCANCEL)));
    // Range 0 to 100 unless changed.
    EXPECT_EQ(100, SendMessageA(bar, PBM_GETRANGE, FALSE, 0));
    DestroyWindow(dialog);
}
}  // namespace

TEST(Satellites, HoldEveryStringWithTheProductNameUnchanged) {
    for (const Satellite& satellite : kAll) {
        SCOPED_TRACE(satellite.file);
        Library library(BuiltHome() + "\\" + satellite.file);
        ASSERT_NE(nullptr, library.module);
        for (UINT id : kStringIds) EXPECT_FALSE(LoadWide(library.module, id).empty()) << id;
        EXPECT_TRUE(LoadWide(library.module, 1000) == satellite.client);
        // Message 4000 is formatted with the stored user name and nothing else.
        std::wstring wrongUser = LoadWide(library.module, 4000);
        size_t percent = wrongUser.find(L'%');
        ASSERT_NE(std::wstring::npos, percent);
        EXPECT_EQ(L's', wrongUser[percent + 1]);
        EXPECT_EQ(std::wstring::npos, wrongUser.find(L'%', percent + 1));
        for (UINT id : {4001u, 4002u, 4003u}) EXPECT_EQ(std::wstring::npos, LoadWide(library.module, id).find(L'%'));
    }
}

TEST(Satellites, EnglishTextsAreThoseThePlugInsCarryThemselves) {
    for (const Satellite& satellite : kAll) {
        if (satellite.korean) continue;
        SCOPED_TRACE(satellite.file);
        Library english(BuiltHome() + "\\" + satellite.file);
        Library plugIn(PlugInPath(satellite.plugIn));
        ASSERT_NE(nullptr, english.module);
        ASSERT_NE(nullptr, plugIn.module);
        for (UINT id : kStringIds) EXPECT_TRUE(LoadWide(english.module, id) == LoadWide(plugIn.module, id)) << id;
        std::wstring client = satellite.client;
        EXPECT_TRUE(LoadWide(english.module, 2000) == L"Backing up " + client + L"...");
        EXPECT_TRUE(LoadWide(english.module, 3001) == L"Restoring " + client + L" Complete!");
        EXPECT_TRUE(LoadWide(english.module, 4001) ==
                    L"Can't restore the backup file because it was created for a different version of " + client + L".");
        EXPECT_TRUE(LoadWide(english.module, 4003) == L"Error - Failed to Restore");
    }
}

TEST(Satellites, KoreanLibrariesAreTranslated) {
    for (int i = 0; i < 4; i += 2) {
        SCOPED_TRACE(kAll[i + 1].file);
        Library english(BuiltHome() + "\\" + kAll[i].file);
        Library korean(BuiltHome() + "\\" + kAll[i + 1].file);
        ASSERT_NE(nullptr, korean.module);
        for (UINT id : kStringIds)
            if (id != 1000) EXPECT_FALSE(LoadWide(english.module, id) == LoadWide(korean.module, id)) << id;
        EXPECT_TRUE(LoadWide(korean.module, 2000) == std::wstring(kAll[i].client) + L" 백업 중...");
        EXPECT_TRUE(FindResourceExA(korean.module, MAKEINTRESOURCEA(6) /* RT_STRING */, MAKEINTRESOURCEA(1000 / 16 + 1),
                                    MAKELANGID(LANG_KOREAN, SUBLANG_KOREAN)));
    }
}

TEST(Satellites, ProgressDialogLaidOutAlikeEverywhere) {
    for (const Satellite& satellite : kAll) {
        Library library(BuiltHome() + "\\" + satellite.file);
        ASSERT_NE(nullptr, library.module) << satellite.file;
        CheckProgressDialog(library.module,
                            satellite.korean ? MAKELANGID(LANG_KOREAN, SUBLANG_KOREAN)
                                             : MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                            satellite.file);
    }
    for (const char* plugIn : {"Wrenfold", "Wrenmark"}) {
        Library library(PlugInPath(plugIn));
        ASSERT_NE(nullptr, library.module) << plugIn;
        CheckProgressDialog(library.module, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), plugIn);
    }
}

// Driving the desktop program's real windows from a test thread: finding
// windows, clicking controls, reading trees, lists and message boxes.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

namespace uidriver {

// Polls until the predicate holds or the time is up; true when it held.
inline bool WaitUntil(const std::function<bool()>& predicate, int timeoutMs = 10000) {
    for (DWORD start = GetTickCount();; Sleep(20)) {
        if (predicate()) return true;
        if (static_cast<int>(GetTickCount() - start) > timeoutMs) return false;
    }
}

// Lets the window's thread work off what was posted to it.
inline void Settle(HWND window, int milliseconds = 300) {
    Sleep(milliseconds);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
}

inline std::string WindowText(HWND window) {
    char text[4096] = {};
    GetWindowTextA(window, text, sizeof(text));
    return text;
}

inline std::string MessageBoxText(HWND box) { return WindowText(GetDlgItem(box, 0xFFFF)); }

// Visible top-level windows of a thread: those of one caption, or else dialogs.
struct WindowSearch {
    const std::string* caption;
    std::vector<HWND> found;
    static BOOL CALLBACK Collect(HWND window, LPARAM parameter) {
        WindowSearch* search = reinterpret_cast<WindowSearch*>(parameter);
        char name[64] = {};
        GetClassNameA(window, name, sizeof(name));
        if (IsWindowVisible(window) &&
            (search->caption ? WindowText(window) == *search->caption : lstrcmpA(name, "#32770") == 0))
            search->found.push_back(window);
        return TRUE;
    }
    static std::vector<HWND> Of(DWORD threadId, const std::string* caption = nullptr) {
        WindowSearch search = {caption, {}};
        EnumThreadWindows(threadId, Collect, reinterpret_cast<LPARAM>(&search));
        return search.found;
    }
};

inline std::vector<HWND> ThreadDialogs(DWORD threadId) { return WindowSearch::Of(threadId); }

inline HWND WaitForThreadWindow(DWORD threadId, const std::string& caption, int timeoutMs = 10000) {
    std::vector<HWND> found;
    WaitUntil([&] { return !(found = WindowSearch::Of(threadId, &caption)).empty(); }, timeoutMs);
    return found.empty() ? nullptr : found[0];
}

// Posted as a click would be, so a modal loop it starts does not block the test.
inline void Press(HWND dialog, int buttonId) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, buttonId)));
}

inline POINT PostedMessagePos() {
    MSG probe = {};
    PeekMessageA(&probe, nullptr, 0, 0, PM_NOREMOVE);  // makes sure this thread has a queue
    PostThreadMessageA(GetCurrentThreadId(), WM_APP, 0, 0);
    POINT pos = {-1, -1};
    if (PeekMessageA(&probe, reinterpret_cast<HWND>(-1), WM_APP, WM_APP, PM_REMOVE)) pos = probe.pt;
    return pos;
}

// A left click at a point of the control's client area. The handlers
// hit-test the cursor position that a posted click carries, and under Wine
// that can lag behind the pointer (a late pointer event puts it back); so the
// click waits until messages posted here carry the new position twice
// running, each after the control's thread took in its pending events.
inline void ClickAt(HWND control, POINT client) {
    POINT screen = client;
    ClientToScreen(control, &screen);
    SetCursorPos(screen.x, screen.y);
    int steady = 0;
    WaitUntil([&] {
        Settle(control, 50);
        POINT posted = PostedMessagePos();
        if (posted.x == screen.x && posted.y == screen.y) return ++steady >= 2;
        steady = 0;
        SetCursorPos(screen.x, screen.y);
        return false;
    }, 3000);
    LPARAM where = MAKELPARAM(client.x, client.y);
    PostMessageA(control, WM_LBUTTONDOWN, MK_LBUTTON, where);
    PostMessageA(control, WM_LBUTTONUP, 0, where);
    Settle(control);
}

inline std::vector<HTREEITEM> TreeRootItems(HWND tree) {
    std::vector<HTREEITEM> items;
    for (HTREEITEM item = TreeView_GetRoot(tree); item; item = TreeView_GetNextSibling(tree, item))
        items.push_back(item);
    return items;
}

// The item's text, with "+" when ticked.
inline std::string TreeItemText(HWND tree, HTREEITEM item) {
    char text[256] = {};
    TVITEMA tv = {TVIF_HANDLE | TVIF_TEXT | TVIF_STATE, item, 0, TVIS_STATEIMAGEMASK, text, sizeof(text)};
    SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
    return text + std::string((tv.state >> 12) == 2 ? "+" : "");
}

// Where a user clicks: a check box (the tree takes a click at x 0..14) or the text.
inline POINT TreePoint(HWND tree, HTREEITEM item, bool checkBox) {
    RECT rect = {};
    TreeView_GetItemRect(tree, item, &rect, !checkBox);
    return {checkBox ? 7 : rect.left + 4, (rect.top + rect.bottom) / 2};
}

// Column 1 of a list row, with "+" when ticked.
inline std::string ListText(HWND list, int row) {
    char text[256] = {};
    LVITEMA item = {0, 0, 1, 0, 0, text, sizeof(text)};
    SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    return text + std::string(ListView_GetCheckState(list, row) ? "+" : "");
}

inline POINT ListPoint(HWND list, int row, bool checkBox) {
    RECT rect = {};
    if (checkBox) ListView_GetItemRect(list, row, &rect, LVIR_BOUNDS);
    else ListView_GetSubItemRect(list, row, 1, LVIR_LABEL, &rect);
    return {rect.left + (checkBox ? 9 : 6), (rect.top + rect.bottom) / 2};
}

// Every tree item or list row, each "text" or "text+" when ticked, then ", ".
inline std::string Texts(HWND control) {
    std::string texts;
    char name[32] = {};
    GetClassNameA(control, name, sizeof(name));
    if (lstrcmpiA(name, WC_TREEVIEWA) == 0)
        for (HTREEITEM item : TreeRootItems(control)) texts += TreeItemText(control, item) + ", ";
    else
        for (int row = 0; row < ListView_GetItemCount(control); ++row) texts += ListText(control, row) + ", ";
    return texts;
}

}  // namespace uidriver

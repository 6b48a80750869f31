#include "UiDriver.h"

namespace uidriver {

bool WaitUntil(const std::function<bool()>& predicate, int timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        if (predicate()) return true;
        if (static_cast<int>(GetTickCount() - start) > timeoutMs) return false;
        Sleep(20);
    }
}

void Settle(HWND window, int milliseconds) {
    Sleep(milliseconds);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
}

namespace {
struct Search {
    std::string caption;
    HWND found = nullptr;
    std::vector<HWND> dialogs;
};

BOOL CALLBACK FindByCaption(HWND window, LPARAM parameter) {
    Search* search = reinterpret_cast<Search*>(parameter);
    if (IsWindowVisible(window) && WindowText(window) == search->caption) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK CollectDialogs(HWND window, LPARAM parameter) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof(name));
    if (IsWindowVisible(window) && lstrcmpA(name, "#32770") == 0)
        reinterpret_cast<Search*>(parameter)->dialogs.push_back(window);
    return TRUE;
}
}  // namespace

HWND FindThreadWindow(DWORD threadId, const std::string& caption) {
    Search search;
    search.caption = caption;
    EnumThreadWindows(threadId, FindByCaption, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForThreadWindow(DWORD threadId, const std::string& caption, int timeoutMs) {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindThreadWindow(threadId, caption)) != nullptr; }, timeoutMs);
    return found;
}

std::vector<HWND> ThreadDialogs(DWORD threadId) {
    Search search;
    EnumThreadWindows(threadId, CollectDialogs, reinterpret_cast<LPARAM>(&search));
    return search.dialogs;
}

std::string WindowText(HWND window) {
    char text[4096] = {};
    GetWindowTextA(window, text, sizeof(text));
    return text;
}

std::string MessageBoxText(HWND box) { return WindowText(GetDlgItem(box, 0xFFFF)); }

void Press(HWND dialog, int buttonId) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, buttonId)));
}

namespace {
POINT PostedMessagePos() {
    MSG probe = {};
    PeekMessageA(&probe, nullptr, 0, 0, PM_NOREMOVE);  // makes sure this thread has a queue
    PostThreadMessageA(GetCurrentThreadId(), WM_APP, 0, 0);
    POINT pos = {-1, -1};
    if (PeekMessageA(&probe, reinterpret_cast<HWND>(-1), WM_APP, WM_APP, PM_REMOVE)) pos = probe.pt;
    return pos;
}
}  // namespace

void ClickAt(HWND control, POINT client) {
    POINT screen = client;
    ClientToScreen(control, &screen);
    SetCursorPos(screen.x, screen.y);
    // A posted click carries the cursor position the window system holds at
    // the moment it is posted, and the handlers hit-test that. Under Wine that
    // position can lag behind the display's pointer: a pointer event from
    // before the move, taken in late by the control's thread, puts it back.
    // So wait until messages posted here carry the new position twice running,
    // each time after the control's thread has taken in its pending events,
    // and move the cursor again whenever one does not.
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

std::vector<HTREEITEM> TreeRootItems(HWND tree) {
    std::vector<HTREEITEM> items;
    for (HTREEITEM item = TreeView_GetRoot(tree); item; item = TreeView_GetNextSibling(tree, item))
        items.push_back(item);
    return items;
}

std::string TreeItemText(HWND tree, HTREEITEM item) {
    char text[256] = {};
    TVITEMA tv = {};
    tv.mask = TVIF_HANDLE | TVIF_TEXT;
    tv.hItem = item;
    tv.pszText = text;
    tv.cchTextMax = sizeof(text);
    SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
    return text;
}

int TreeItemImage(HWND tree, HTREEITEM item) {
    TVITEMA tv = {};
    tv.mask = TVIF_HANDLE | TVIF_IMAGE;
    tv.hItem = item;
    SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
    return tv.iImage;
}

bool TreeItemTicked(HWND tree, HTREEITEM item) {
    return (TreeView_GetItemState(tree, item, TVIS_STATEIMAGEMASK) >> 12) == 2;
}

HTREEITEM TreeSelection(HWND tree) { return TreeView_GetSelection(tree); }

POINT TreeCheckBoxPoint(HWND tree, HTREEITEM item) {
    RECT rect = {};
    TreeView_GetItemRect(tree, item, &rect, FALSE);
    POINT point = {-1, (rect.top + rect.bottom) / 2};
    for (int x = 0; x <= 14; ++x) {
        TVHITTESTINFO hit = {};
        hit.pt = {x, point.y};
        if (TreeView_HitTest(tree, &hit) == item && (hit.flags & TVHT_ONITEMSTATEICON)) {
            point.x = x + 3 <= 14 ? x + 3 : x;
            break;
        }
    }
    return point;
}

POINT TreeTextPoint(HWND tree, HTREEITEM item) {
    RECT rect = {};
    TreeView_GetItemRect(tree, item, &rect, TRUE);
    return {rect.left + 4, (rect.top + rect.bottom) / 2};
}

int ListCount(HWND list) { return ListView_GetItemCount(list); }

std::string ListText(HWND list, int row, int column) {
    char text[256] = {};
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof(text);
    SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    return text;
}

bool ListTicked(HWND list, int row) { return ListView_GetCheckState(list, row) != 0; }

int ListSelection(HWND list) { return ListView_GetNextItem(list, -1, LVNI_SELECTED); }

POINT ListCheckBoxPoint(HWND list, int row) {
    RECT rect = {};
    ListView_GetItemRect(list, row, &rect, LVIR_BOUNDS);
    POINT point = {-1, (rect.top + rect.bottom) / 2};
    for (int x = rect.left; x < rect.left + 40; ++x) {
        LVHITTESTINFO hit = {};
        hit.pt = {x, point.y};
        if (ListView_HitTest(list, &hit) == row && (hit.flags & LVHT_ONITEMSTATEICON)) {
            point.x = x + 3;
            break;
        }
    }
    return point;
}

POINT ListTextPoint(HWND list, int row) {
    RECT rect = {};
    ListView_GetSubItemRect(list, row, 1, LVIR_LABEL, &rect);
    return {rect.left + 6, (rect.top + rect.bottom) / 2};
}

bool StyleDisabled(HWND window) { return (GetWindowLongA(window, GWL_STYLE) & WS_DISABLED) != 0; }

}  // namespace uidriver

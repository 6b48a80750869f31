#include "MainTabCtrl.h"

#include <commctrl.h>

#include "BackupTab.h"
#include "RestoreTab.h"

CMainTabCtrl::CMainTabCtrl() : m_pages{new CBackupTab(), new CRestoreTab()} {}

CMainTabCtrl::~CMainTabCtrl() {
    if (m_hWnd && IsWindow(m_hWnd)) {
        SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_baseProc));
        RemovePropA(m_hWnd, "CMainTabCtrl");
    }
    for (CDialogBase* page : m_pages) delete page;
}

void CMainTabCtrl::Attach(HWND tab) {
    m_hWnd = tab;
    SetPropA(tab, "CMainTabCtrl", this);
    m_baseProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(tab, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SubclassProc)));
}

void CMainTabCtrl::InsertItem(int index, const char* text) {
    TCITEMA item = {};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<char*>(text);
    SendMessageA(m_hWnd, TCM_INSERTITEMA, index, reinterpret_cast<LPARAM>(&item));
}

void CMainTabCtrl::Init() {
    for (CDialogBase* page : m_pages) page->CreateChild(m_hWnd);
    m_currentPage = 0;
    Layout();
}

void CMainTabCtrl::DestroyPages() {
    for (CDialogBase* page : m_pages)
        if (page->GetHwnd()) DestroyWindow(page->GetHwnd());
}

void CMainTabCtrl::Layout() {
    RECT client = {}, item = {};
    GetClientRect(m_hWnd, &client);
    TabCtrl_GetItemRect(m_hWnd, 0, &item);
    int x = item.left, y = item.bottom + 1;
    int width = client.right - item.left - 1, height = client.bottom - y - 1;
    for (int i = 0; i < kPageCount; ++i) {
        HWND page = m_pages[i]->GetHwnd();
        if (!page) continue;
        SetWindowPos(page, HWND_TOP, x, y, width, height, i == 0 ? SWP_SHOWWINDOW : SWP_HIDEWINDOW);
    }
}

void CMainTabCtrl::OnLButtonDown() {
    int focus = TabCtrl_GetCurFocus(m_hWnd);
    if (focus < 0 || focus >= kPageCount || focus == m_currentPage) return;
    ShowWindow(m_pages[m_currentPage]->GetHwnd(), SW_HIDE);
    ShowWindow(m_pages[focus]->GetHwnd(), SW_SHOW);
    m_currentPage = focus;
    SetFocus(m_pages[focus]->GetHwnd());
}

LRESULT CALLBACK CMainTabCtrl::SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CMainTabCtrl* self = static_cast<CMainTabCtrl*>(GetPropA(hwnd, "CMainTabCtrl"));
    if (!self) return DefWindowProcA(hwnd, message, wParam, lParam);
    LRESULT result = CallWindowProcA(self->m_baseProc, hwnd, message, wParam, lParam);
    if (message == WM_LBUTTONDOWN) self->OnLButtonDown();
    return result;
}

// CMainTabCtrl: the main window's tab control with its two pages. Pages
// change only on a mouse click on the tabs.
#pragma once
#include <windows.h>

class CDialogBase;

class CMainTabCtrl {
public:
    CMainTabCtrl();
    virtual ~CMainTabCtrl();   // deletes the pages
    CMainTabCtrl(const CMainTabCtrl&) = delete;
    CMainTabCtrl& operator=(const CMainTabCtrl&) = delete;

    // Binds the control and subclasses it.
    void Attach(HWND tab);
    HWND GetHwnd() const { return m_hWnd; }
    void InsertItem(int index, const char* text);
    // Creates both pages as children, shows page 0 and lays them out.
    void Init();
    // Destroys the page windows in page order (the objects stay).
    void DestroyPages();

    static const int kPageCount = 2;
    CDialogBase* GetPage(int index) const { return m_pages[index]; }
    int GetCurrentPage() const { return m_currentPage; }

private:
    void Layout();
    void OnLButtonDown();
    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    HWND m_hWnd = nullptr;
    WNDPROC m_baseProc = nullptr;
    int m_currentPage = 0;
    CDialogBase* m_pages[kPageCount];
};

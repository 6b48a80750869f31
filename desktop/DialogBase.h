// CDialogBase: a dialog window bound to one C++ object. The dialog procedure
// finds the object through the window's user data and hands each message to
// a member handler; a page is the same class created as a child window.
#pragma once
#include <windows.h>
#include <commctrl.h>

class CDialogBase {
public:
    explicit CDialogBase(UINT templateId) : m_templateId(templateId) {}
    virtual ~CDialogBase();
    CDialogBase(const CDialogBase&) = delete;
    CDialogBase& operator=(const CDialogBase&) = delete;

    // Runs the dialog modally from the given module (the resource module
    // when none is given) and returns what EndDialog was given.
    INT_PTR DoModal(HWND owner, HINSTANCE module = nullptr);
    // Creates the dialog as a modeless child of parent.
    bool CreateChild(HWND parent, HINSTANCE module = nullptr);

    HWND GetHwnd() const { return m_hWnd; }
    HWND GetItem(int id) const { return GetDlgItem(m_hWnd, id); }
    void EndDialog(INT_PTR result);

protected:
    virtual BOOL OnInitDialog() { return TRUE; }
    // Commands not handled here fall to the default: IDOK and IDCANCEL end a
    // modal dialog.
    virtual bool OnCommand(int id, int code);
    // result becomes the notification's answer.
    virtual bool OnNotify(NMHDR* header, LRESULT& result);
    virtual void OnDestroy() {}
    // Any other message; true when handled, with result as the answer.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_templateId;
    HWND m_hWnd = nullptr;
    bool m_modal = false;
};

#include "DialogBase.h"

#include "ResourceModule.h"

CDialogBase::~CDialogBase() {
    if (m_hWnd && IsWindow(m_hWnd)) {
        // The object goes first: the window must not call back into it.
        SetWindowLongPtrA(m_hWnd, DWLP_USER, 0);
        if (!m_modal) DestroyWindow(m_hWnd);
    }
}

INT_PTR CDialogBase::DoModal(HWND owner, HINSTANCE module) {
    m_modal = true;
    return DialogBoxParamA(module ? module : GetResourceModule(), MAKEINTRESOURCEA(m_templateId),
                           owner, DialogProc, reinterpret_cast<LPARAM>(this));
}

bool CDialogBase::CreateChild(HWND parent, HINSTANCE module) {
    m_modal = false;
    return CreateDialogParamA(module ? module : GetResourceModule(), MAKEINTRESOURCEA(m_templateId),
                              parent, DialogProc, reinterpret_cast<LPARAM>(this)) != nullptr;
}

void CDialogBase::EndDialog(INT_PTR result) {
    if (m_modal) ::EndDialog(m_hWnd, result);
}

bool CDialogBase::OnCommand(int id, int) {
    if (id == IDOK || id == IDCANCEL) {
        EndDialog(id);
        return true;
    }
    return false;
}

bool CDialogBase::OnNotify(NMHDR*, LRESULT&) { return false; }

bool CDialogBase::OnMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

INT_PTR CALLBACK CDialogBase::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        CDialogBase* self = reinterpret_cast<CDialogBase*>(lParam);
        SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
        self->m_hWnd = hwnd;
        return self->OnInitDialog();
    }
    CDialogBase* self = reinterpret_cast<CDialogBase*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (!self) return FALSE;
    INT_PTR answer = self->Dispatch(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(hwnd, DWLP_USER, 0);
        self->m_hWnd = nullptr;
    }
    return answer;
}

INT_PTR CDialogBase::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    switch (message) {
    case WM_COMMAND:
        return OnCommand(LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
    case WM_NOTIFY:
        if (!OnNotify(reinterpret_cast<NMHDR*>(lParam), result)) return FALSE;
        SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, result);
        return TRUE;
    case WM_DESTROY:
        OnDestroy();
        return FALSE;
    default:
        if (!OnMessage(message, wParam, lParam, result)) return FALSE;
        // These answer through the procedure's own result, the rest through
        // DWLP_MSGRESULT.
        if (message == WM_QUERYDRAGICON || (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC))
            return static_cast<INT_PTR>(result);
        SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, result);
        return TRUE;
    }
}

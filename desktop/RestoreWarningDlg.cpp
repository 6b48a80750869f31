#include "RestoreWarningDlg.h"

#include "ORRegistryUtil.h"
#include "ResourceModule.h"
#include "resource.h"

INT_PTR CALLBACK RestoreWarningDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message != WM_COMMAND || LOWORD(wParam) != IDOK) return FALSE;
    if (IsDlgButtonChecked(dialog, IDC_WARNING_OFF) == BST_CHECKED) {
        // The key may not exist yet on a fresh account.
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, kProductKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                            nullptr) == ERROR_SUCCESS)
            RegCloseKey(key);
        ORRegistryUtil::WriteDwordToRegistry(HKEY_CURRENT_USER, kProductKey, "Restore Warning Off", 1);
    }
    EndDialog(dialog, IDOK);
    return TRUE;
}

void ShowRestoreWarning(HWND owner) {
    DWORD off = 0;
    if (!ORRegistryUtil::ReadDwordFromRegistry(HKEY_CURRENT_USER, kProductKey, "Restore Warning Off", off, true))
        off = 0;
    if (off != 0) return;
    DialogBoxParamA(GetProgramModule(), MAKEINTRESOURCEA(IDD_RESTORE_WARNING), owner,
                    RestoreWarningDlgProc, 0);
}

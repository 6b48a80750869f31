// The restore warning (dialog 146 of the program file): the mail clients must
// have been opened once. OK is the only way out; with "Do not show this
// message" ticked it stores "Restore Warning Off" = 1.
#pragma once
#include <windows.h>

INT_PTR CALLBACK RestoreWarningDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Shows the warning unless "Restore Warning Off" is non-zero.
void ShowRestoreWarning(HWND owner);

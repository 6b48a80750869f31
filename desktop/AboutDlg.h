// CAboutDlg: "About Velmora", opened from the main window's system menu.
#pragma once
#include "DialogBase.h"

class CAboutDlg : public CDialogBase {
public:
    CAboutDlg();
};

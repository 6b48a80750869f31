#include "AboutDlg.h"

#include "resource.h"

CAboutDlg::CAboutDlg() : CDialogBase(IDD_ABOUTBOX) {}

#include "VelmoraDlg.h"

#include <shellapi.h>

#include <cstring>

#include "AboutDlg.h"
#include "EngineHost.h"
#include "Handles.h"
#include "Log.h"
#include "ORRegistryUtil.h"
#include "ProgramStartup.h"
#include "ResourceModule.h"
#include "SplashThread.h"
#include "resource.h"

CVelmoraDlg::CVelmoraDlg() : CDialogBase(IDD_VELMORA_DIALOG) {
    m_icon = LoadIconA(GetResourceModule(), MAKEINTRESOURCEA(IDR_MAINFRAME));
    if (!m_icon) m_icon = LoadIconA(GetProgramModule(), MAKEINTRESOURCEA(IDR_MAINFRAME));
}

CVelmoraDlg::~CVelmoraDlg() { delete m_host; }

BOOL CVelmoraDlg::OnInitDialog() {
    m_tab.Attach(GetItem(IDC_MAIN_TAB));

    std::string about = LoadResString(IDS_ABOUTBOX);
    if (!about.empty()) {
        HMENU menu = GetSystemMenu(GetHwnd(), FALSE);
        if (menu) {
            AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
            AppendMenuA(menu, MF_STRING, IDM_ABOUTBOX, about.c_str());
        }
    }
    SendMessageA(GetHwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
    SendMessageA(GetHwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon));

    CSplashThread::ShowSplash(1000);
    CheckMailClients();

    std::string home;
    if (ORRegistryUtil::ReadStringFromRegistry(HKEY_LOCAL_MACHINE, kProductKey, "Velmora Home", home) &&
        !home.empty())
        m_host = new CEngineHost(home);

    m_tab.InsertItem(0, LoadResString(IDS_BACKUP_TAB).c_str());
    m_tab.InsertItem(1, LoadResString(IDS_RESTORE_TAB).c_str());
    m_tab.Init();
    return TRUE;
}

bool CVelmoraDlg::CheckMailClients() {
    if (!IsMailClientRunning()) return false;
    MessageBoxA(nullptr, LoadResString(IDS_CLOSE_MAIL_CLIENT).c_str(), LoadResString(IDS_ERROR_CLOSE_APP).c_str(),
                MB_ICONERROR);
    return true;
}

std::string CVelmoraDlg::HelpTarget() {
    std::string address = LoadResString(IDS_HELP_ADDRESS);
    bool absolute = address.find(':') != std::string::npos || address.compare(0, 2, "\\\\") == 0;
    if (address.empty() || absolute) return address;
    std::string home;
    if (!ORRegistryUtil::ReadStringFromRegistry(HKEY_LOCAL_MACHINE, kProductKey, "Velmora Home", home)) {
        char program[MAX_PATH] = {};
        DWORD length = GetModuleFileNameA(nullptr, program, sizeof(program));
        char* slash = length > 0 && length < sizeof(program) ? strrchr(program, '\\') : nullptr;
        if (slash) *slash = '\0';
        home = program;
    }
    return home + "\\" + address;
}

bool CVelmoraDlg::OnCommand(int id, int code) {
    if (id == IDC_HELP_BUTTON) {
        ShellExecuteA(nullptr, "open", HelpTarget().c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        return true;
    }
    return CDialogBase::OnCommand(id, code);
}

void CVelmoraDlg::OnDestroy() {
    // The pages go first, Backup before Restore, so the plug-ins see
    // UninitBackup and then UninitRestore.
    m_tab.DestroyPages();
}

bool CVelmoraDlg::OnMessage(UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
    switch (message) {
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) != IDM_ABOUTBOX) return false;
        {
            CAboutDlg about;
            about.DoModal(GetHwnd());
        }
        result = 0;
        return true;
    case WM_PAINT:
        if (!IsIconic(GetHwnd())) return false;
        {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(GetHwnd(), &paint);
            SendMessageA(GetHwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
            RECT client;
            GetClientRect(GetHwnd(), &client);
            int x = (client.right - GetSystemMetrics(SM_CXICON) + 1) / 2;
            int y = (client.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2;
            DrawIcon(dc, x, y, m_icon);
            EndPaint(GetHwnd(), &paint);
        }
        result = 0;
        return true;
    case WM_QUERYDRAGICON:
        result = reinterpret_cast<LRESULT>(m_icon);
        return true;
    default:
        return false;
    }
}

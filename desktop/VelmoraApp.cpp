#include "VelmoraApp.h"

#include <commctrl.h>
#include <objbase.h>

#include "Handles.h"
#include "Log.h"
#include "ProductSettings.h"
#include "ProgramStartup.h"
#include "ResourceModule.h"
#include "VelmoraDlg.h"
#include "resource.h"

CVelmoraApp* CVelmoraApp::s_app = nullptr;

namespace {
// COM for the calling thread, single-threaded apartment, for as long as the
// object lives: the folder browser and ShellExecute need it, and may hand
// work to shell extensions that expect it. Every successful initialisation,
// S_FALSE included, is balanced; a thread already in another apartment
// (RPC_E_CHANGED_MODE) is left as it is.
class CComApartment {
public:
    CComApartment() : m_result(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    ~CComApartment() {
        if (SUCCEEDED(m_result)) CoUninitialize();
    }
    CComApartment(const CComApartment&) = delete;
    CComApartment& operator=(const CComApartment&) = delete;

private:
    HRESULT m_result;
};

}  // namespace

CVelmoraApp::CVelmoraApp() { s_app = this; }

CVelmoraApp::~CVelmoraApp() {
    if (s_app == this) s_app = nullptr;
}

BOOL CVelmoraApp::InitInstance() {
    EnableControls();
    ConfigureModuleLog(g_Log, "\\Velmora.log", false);
    LoadSatellite();
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) token = nullptr;
    CHandle owner(token);
    if (CheckPrivileges(token)) RunMainDialog();
    return FALSE;
}

bool CVelmoraApp::CheckPrivileges(HANDLE token) {
    // Both are tried, so that the one the token holds is enabled either way.
    bool backup = token && EnablePrivilege(token, SE_BACKUP_NAME);
    bool restore = token && EnablePrivilege(token, SE_RESTORE_NAME);
    if (backup && restore) return true;
    LOG_ERROR("The backup and restore privileges cannot be enabled (backup %d, restore %d).", backup ? 1 : 0,
              restore ? 1 : 0);
    MessageBoxA(nullptr, LoadResString(IDS_PRIVILEGES_MISSING).c_str(), LoadResString(IDS_ERROR).c_str(),
                MB_OK | MB_ICONERROR);
    return false;
}

void CVelmoraApp::EnableControls() {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_TAB_CLASSES | ICC_TREEVIEW_CLASSES |
                                                           ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
}

const char* CVelmoraApp::SatelliteFileName(const std::string& languageCode) {
    return ::SatelliteFileName(languageCode);
}

std::string CVelmoraApp::ChooseLanguageCode() { return FindLanguageCode(); }

std::string CVelmoraApp::SatelliteDirectory() {
    bool fromRegistry = false;
    return FindHomeDirectory(&fromRegistry);
}

bool CVelmoraApp::LoadSatellite() { return LoadProgramSatellite(); }

INT_PTR CVelmoraApp::RunMainDialog() {
    m_mainThreadId = GetCurrentThreadId();
    CComApartment com;
    CVelmoraDlg* dialog = new CVelmoraDlg();
    m_mainWnd = dialog;
    INT_PTR result = dialog->DoModal(nullptr);
    m_mainWnd = nullptr;
    delete dialog;
    return result;
}

#include "VelmoraApp.h"

#include <commctrl.h>
#include <objbase.h>

#include "Log.h"
#include "ProductSettings.h"
#include "ResourceModule.h"
#include "VelmoraDlg.h"

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
    RunMainDialog();
    return FALSE;
}

void CVelmoraApp::EnableControls() {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_TAB_CLASSES | ICC_TREEVIEW_CLASSES |
                                                           ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
}

const char* CVelmoraApp::SatelliteFileName(const std::string& languageCode) {
    return languageCode == "KOR" ? "VLLocaleSatellite_KOR.dll" : "VLLocaleSatellite_ENU.dll";
}

std::string CVelmoraApp::ChooseLanguageCode() { return FindLanguageCode(); }

std::string CVelmoraApp::SatelliteDirectory() {
    bool fromRegistry = false;
    return FindHomeDirectory(&fromRegistry);
}

bool CVelmoraApp::LoadSatellite() {
    std::string path = SatelliteDirectory() + SatelliteFileName(ChooseLanguageCode());
    if (path.size() >= MAX_PATH) return false;
    // The satellite stays loaded for the rest of the process.
    HMODULE satellite = LoadLibraryA(path.c_str());
    if (!satellite) return false;
    SetResourceModule(satellite);
    return true;
}

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

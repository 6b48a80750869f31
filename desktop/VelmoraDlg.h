// CVelmoraDlg: the main window, a modal dialog with the banner, the Backup
// and Restore pages, Help and Close. It owns the plug-in host.
#pragma once
#include <string>

#include "DialogBase.h"
#include "MainTabCtrl.h"

class CEngineHost;

class CVelmoraDlg : public CDialogBase {
public:
    CVelmoraDlg();
    ~CVelmoraDlg() override;   // deletes the host: every plug-in is released

    // Null when "Velmora Home" is not set.
    CEngineHost* GetHost() const { return m_host; }
    CMainTabCtrl& GetTabCtrl() { return m_tab; }

    // True when a process named "msimn.exe" or "outlook.exe" runs; then the
    // user has been told once.
    static bool CheckMailClients();
    // The manual that Help opens: string 502, taken relative to the home
    // directory (or the program's folder) unless it is a full address.
    static std::string HelpTarget();

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int code) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void OnDestroy() override;

private:
    HICON m_icon;
    CMainTabCtrl m_tab;
    CEngineHost* m_host = nullptr;
};

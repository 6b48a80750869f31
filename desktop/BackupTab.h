// CBackupTab: the Backup page. Lists the plug-ins as applications with check
// boxes, the current application's identities and the current identity's
// items; every tick calls Enable or Disable on the plug-in at once.
#pragma once
#include <string>

#include "PlugInPage.h"

class CBackupTab : public CPlugInPage {
public:
    CBackupTab();

    const std::string& GetBackupFolder() const { return m_backupFolder; }
    int GetCurrentPlugIn() const { return m_currentPlugIn; }
    // The report shown after a successful backup: one block per enabled
    // plug-in, then string 301; at most kReportBytes - 1 characters.
    static std::string ComposeReport(CEngineHost& host);
    static const size_t kReportBytes = 8192;

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int code) override;
    void OnDestroy() override;
    void OnApplicationSelected(const NMTREEVIEWA& change) override;
    void OnApplicationClicked() override;
    void OnProfileChanged(const NMLISTVIEW& change) override;
    void OnItemChanged(const NMLISTVIEW& change) override;

private:
    void FillTree();
    void OnChooseFolder();
    void OnRunBackup();
    // "Outlook" disables both lists, "Outlook Express" enables them.
    void ApplyListAccess(const std::string& name);
    CEnginePlugIn* PlugInAt(int index) const;

    std::string m_backupFolder;
    int m_currentPlugIn = -1;
};

#include "BackupTab.h"

#include <shlobj.h>

#include "EngineHost.h"
#include "EnginePlugIn.h"
#include "ResourceModule.h"
#include "resource.h"

CBackupTab::CBackupTab() : CPlugInPage(IDD_BACKUP_TAB) {}

CEnginePlugIn* CBackupTab::PlugInAt(int index) const {
    return m_host && index >= 0 && index < m_host->GetPlugInCount() ? m_host->GetPlugIn(index) : nullptr;
}

BOOL CBackupTab::OnInitDialog() {
    m_host = MainHost();
    if (!m_host) return FALSE;
    m_host->InitBackup();
    SetUpControls(IDC_BACKUP_TREE, IDC_BACKUP_PROFILES, IDC_BACKUP_ITEMS, IDS_BACKUP_SELECT,
                  IDS_BACKUP_PROFILE, IDS_BACKUP_ITEM);
    FillTree();
    return TRUE;
}

void CBackupTab::FillTree() {
    if (m_host->GetPlugInCount() == 0) return;
    for (int i = 0; i < m_host->GetPlugInCount(); ++i) {
        std::string name = m_host->GetPlugIn(i)->GetName();
        if (name != "Outlook Express" && name != "Outlook") return;
        InsertApplication(name, i, name == "Outlook");
    }
    m_currentPlugIn = 0;
    FillProfileList(PlugInAt(0), kBackupSide);
    std::string first = PlugInAt(0)->GetName();
    ApplyListAccess(first);
}

void CBackupTab::ApplyListAccess(const std::string& name) {
    if (name == "Outlook") SetListsEnabled(false);
    else if (name == "Outlook Express") SetListsEnabled(true);
}

void CBackupTab::OnDestroy() {
    if (m_host) m_host->UninitBackup();
}

bool CBackupTab::OnCommand(int id, int code) {
    switch (id) {
    case IDC_BACKUP_BROWSE:
        OnChooseFolder();
        return true;
    case IDC_BACKUP_RUN:
        OnRunBackup();
        return true;
    default:
        return CPlugInPage::OnCommand(id, code);
    }
}

void CBackupTab::OnApplicationSelected(const NMTREEVIEWA& change) {
    LPARAM previous = change.itemOld.hItem ? GetItemData(change.itemOld.hItem) : 0;
    LPARAM data = GetItemData(change.itemNew.hItem);
    if (data == previous) return;
    m_currentPlugIn = static_cast<int>(data);
    CEnginePlugIn* plugIn = PlugInAt(m_currentPlugIn);
    if (!plugIn) return;
    if (IsTicked(change.itemNew.hItem)) {
        plugIn->Enable();
        ApplyListAccess(plugIn->GetName());
    } else {
        plugIn->Disable();
        SetListsEnabled(false);
    }
    FillProfileList(plugIn, kBackupSide);
}

void CBackupTab::OnApplicationClicked() {
    HTREEITEM item = HitCheckBox();
    if (!item) return;
    bool ticked = IsTicked(item);
    int index = static_cast<int>(GetItemData(item));
    TreeView_SelectItem(m_tree, item);
    CEnginePlugIn* plugIn = PlugInAt(index);
    if (!plugIn) return;
    if (ticked) {
        plugIn->Disable();
        SetListsEnabled(false);
    } else {
        plugIn->Enable();
        CEnginePlugIn* current = PlugInAt(m_currentPlugIn);
        if (current) ApplyListAccess(current->GetName());
    }
    FillProfileList(plugIn, kBackupSide);
}

void CBackupTab::OnProfileChanged(const NMLISTVIEW& change) {
    if (!IsStateChange(change)) return;
    CBackupIdentity* identity = reinterpret_cast<CBackupIdentity*>(change.lParam);
    CEnginePlugIn* plugIn = PlugInAt(m_currentPlugIn);
    std::string plugInName = plugIn ? plugIn->GetName() : std::string();

    if (m_currentProfile >= 0 && change.iItem != m_currentProfile) {
        m_currentProfile = change.iItem;
        FillItemList(identity);
        if (!identity->IsEnabled()) SetListEnabled(m_items, false);
        else if (plugInName == "Outlook") SetListEnabled(m_items, false);
        else if (plugInName == "Outlook Express") SetListEnabled(m_items, true);
    }
    if (!ApplyIdentityCheck(change)) return;
    if (TickItemsOfSelectedRow(change)) SetListEnabled(m_items, identity->IsEnabled());
    SelectRow(m_profiles, m_currentProfile);
}

void CBackupTab::OnItemChanged(const NMLISTVIEW& change) {
    if (ApplyItemCheck(change)) SelectRow(m_items, change.iItem);
}

void CBackupTab::OnChooseFolder() {
    std::string title = LoadResString(IDS_BROWSE_FOLDER_TITLE);
    if (title.empty()) title = "Choose a backup folder";
    BROWSEINFOA browse = {};
    browse.hwndOwner = GetHwnd();
    browse.lpszTitle = title.c_str();
    LPITEMIDLIST chosen = SHBrowseForFolderA(&browse);
    if (!chosen) return;
    char path[MAX_PATH] = {};
    if (SHGetPathFromIDListA(chosen, path)) {
        m_backupFolder = path;
        SetDlgItemTextA(GetHwnd(), IDC_PATH_EDIT, path);
    }
    CoTaskMemFree(chosen);
}

std::string CBackupTab::ComposeReport(CEngineHost& host) {
    std::string report;
    for (int i = 0; i < host.GetPlugInCount(); ++i) {
        CEnginePlugIn* plugIn = host.GetPlugIn(i);
        if (!plugIn->IsEnabled()) continue;
        std::string info;
        plugIn->GetSysInfo(info);
        report += "-------------------- " + plugIn->GetName() + " --------------------\n" + info + "\n";
    }
    report += LoadResString(IDS_BACKUP_NOTE);
    if (report.size() >= kReportBytes) report.resize(kReportBytes - 1);
    return report;
}

void CBackupTab::OnRunBackup() {
    char folder[MAX_PATH] = {};
    GetDlgItemTextA(GetHwnd(), IDC_PATH_EDIT, folder, sizeof(folder));
    m_backupFolder = folder;
    if (m_backupFolder.empty()) {
        ShowMessage(LoadResString(IDS_SELECT_BACKUP_FOLDER), IDS_ERROR, MB_ICONERROR);
        return;
    }
    if (!m_host) return;
    int result = RunWithMainWindowDisabled([&] { return m_host->Backup(m_backupFolder); });
    if (result == 1)
        ShowMessage(ComposeReport(*m_host), IDS_BACKUP_COMPLETED, MB_ICONINFORMATION);
    else
        ShowMessage(LoadResString(IDS_BACKUP_FAILED), IDS_ERROR, MB_ICONERROR);
}

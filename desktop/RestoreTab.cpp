#include "RestoreTab.h"

#include <commdlg.h>

#include "EngineHost.h"
#include "EnginePlugIn.h"
#include "Log.h"
#include "ProgramStartup.h"
#include "ResourceModule.h"
#include "RestoreWarningDlg.h"
#include "VelmoraApp.h"
#include "VelmoraDlg.h"
#include "resource.h"

CRestoreTab::CRestoreTab() : CPlugInPage(IDD_RESTORE_TAB) {}

std::string CRestoreTab::ApplicationName(const std::string& archivePath) {
    return ClientNameOfArchive(archivePath);
}

BOOL CRestoreTab::OnInitDialog() {
    m_host = MainHost();
    if (!m_host) return FALSE;
    SetUpControls(IDC_RESTORE_TREE, IDC_RESTORE_PROFILES, IDC_RESTORE_ITEMS, IDS_RESTORE_SELECT,
                  IDS_RESTORE_PROFILE, IDS_RESTORE_ITEM);
    return TRUE;
}

void CRestoreTab::OnDestroy() {
    if (m_host) m_host->UninitRestore();
}

bool CRestoreTab::OnCommand(int id, int code) {
    switch (id) {
    case IDC_RESTORE_BROWSE:
        OnChooseArchive();
        return true;
    case IDC_RESTORE_RUN:
        OnRunRestore();
        return true;
    default:
        return CPlugInPage::OnCommand(id, code);
    }
}

void CRestoreTab::ShowArchivePath(const std::string& path) {
    m_archivePath = path;
    SetDlgItemTextA(GetHwnd(), IDC_PATH_EDIT, path.c_str());
}

void CRestoreTab::OnChooseArchive() {
    CVelmoraApp* app = CVelmoraApp::Get();
    HWND main = app && app->GetMainWnd() ? app->GetMainWnd()->GetHwnd() : GetAncestor(GetHwnd(), GA_ROOT);
    ShowRestoreWarning(main);

    char path[MAX_PATH] = {};
    OPENFILENAMEA open = {};
    open.lStructSize = sizeof(open);
    open.hwndOwner = GetHwnd();
    open.lpstrFilter = "Vlb Files (*.vlb)\0*.vlb\0All Files (*.*)\0*.*\0";
    open.lpstrFile = path;
    open.nMaxFile = sizeof(path);
    open.Flags = OFN_EXPLORER;
    if (!GetOpenFileNameA(&open)) return;
    AcceptArchive(path);
}

void CRestoreTab::AcceptArchive(const std::string& path) {
    std::string name = ApplicationName(path);
    for (const std::string& chosen : m_chosen)
        if (chosen == name) return;
    if (!m_host) return;
    // The plug-in's own message boxes have no owner: without this the user
    // could start a second InitRestore, a backup or a restore meanwhile.
    int result = RunWithMainWindowDisabled([&] { return m_host->InitRestore(name, path); });
    if (result != 0) {
        ShowArchivePath(path);
        for (int i = 0; i < m_host->GetPlugInCount(); ++i) {
            CEnginePlugIn* plugIn = m_host->GetPlugIn(i);
            if (plugIn->GetName() != name) continue;
            plugIn->Enable();
            AddToTree(plugIn);
        }
        m_chosen.push_back(name);
        m_archivePaths[name] = m_archivePath;
    } else {
        std::string text = FormatMessageText(LoadResString(IDS_RESTORE_INIT_FAILED).c_str(), name.c_str(),
                                             path.c_str());
        LOG_ERROR("%s", text.c_str());
        ShowMessage(text, IDS_ERROR, MB_ICONERROR);
    }
}

void CRestoreTab::AddToTree(CEnginePlugIn* plugIn) {
    std::string name = plugIn->GetName();
    if (ApplicationImage(name) < 0) return;
    CEnginePlugIn* first = m_host->FindPlugIn(name);
    HTREEITEM item = InsertApplication(name, reinterpret_cast<LPARAM>(first), false);
    TreeView_SelectItem(m_tree, item);
    TreeView_SortChildren(m_tree, TVI_ROOT, FALSE);
    SetTicked(item, true);
    plugIn->Enable();
    FillProfileList(plugIn, kRestoreSide);
}

void CRestoreTab::OnApplicationSelected(const NMTREEVIEWA& change) {
    LPARAM previous = change.itemOld.hItem ? GetItemData(change.itemOld.hItem) : 0;
    CEnginePlugIn* plugIn = reinterpret_cast<CEnginePlugIn*>(GetItemData(change.itemNew.hItem));
    if (!plugIn || reinterpret_cast<LPARAM>(plugIn) == previous) return;
    if (IsTicked(change.itemNew.hItem)) plugIn->Enable();
    else plugIn->Disable();
    FillProfileList(plugIn, kRestoreSide);
    auto found = m_archivePaths.find(plugIn->GetName());
    if (found != m_archivePaths.end() && !found->second.empty()) ShowArchivePath(found->second);
}

void CRestoreTab::OnApplicationClicked() {
    HTREEITEM item = HitCheckBox();
    if (!item) return;
    bool ticked = IsTicked(item);
    CEnginePlugIn* plugIn = reinterpret_cast<CEnginePlugIn*>(GetItemData(item));
    TreeView_SelectItem(m_tree, item);
    if (!plugIn) return;
    if (ticked) plugIn->Disable();
    else plugIn->Enable();
    FillProfileList(plugIn, kRestoreSide);
}

void CRestoreTab::OnProfileChanged(const NMLISTVIEW& change) {
    if (!IsStateChange(change)) return;
    if (m_currentProfile >= 0 && change.iItem != m_currentProfile) {
        m_currentProfile = change.iItem;
        FillItemList(reinterpret_cast<CBackupIdentity*>(change.lParam));
    }
    if (ApplyIdentityCheck(change)) TickItemsOfSelectedRow(change);
}

void CRestoreTab::OnRunRestore() {
    char path[MAX_PATH] = {};
    GetDlgItemTextA(GetHwnd(), IDC_PATH_EDIT, path, sizeof(path));
    m_archivePath = path;
    if (m_archivePath.empty()) {
        ShowMessage(LoadResString(IDS_SELECT_MEDIA_FOLDER), IDS_ERROR, MB_ICONERROR);
        return;
    }
    if (!m_host) return;
    int result = RunWithMainWindowDisabled([&] { return m_host->Restore(); });
    if (result == 1)
        ShowMessage(LoadResString(IDS_RESTORE_DONE), IDS_RESTORE_COMPLETED, MB_ICONINFORMATION);
    else
        ShowMessage(LoadResString(IDS_RESTORE_FAILED), IDS_ERROR, MB_ICONERROR);
}

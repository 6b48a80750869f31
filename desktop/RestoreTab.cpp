#include "RestoreTab.h"

#include <commdlg.h>
#include <shlobj.h>

#include <cctype>

#include "EngineHost.h"
#include "EnginePlugIn.h"
#include "Handles.h"
#include "Log.h"
#include "ProgramStartup.h"
#include "ResourceModule.h"
#include "RestoreWarningDlg.h"
#include "VelmoraApp.h"
#include "VelmoraDlg.h"
#include "resource.h"

namespace {
// Where the plug-ins keep what a restore replaced.
bool UndoFolder(std::string& folder) {
    char appData[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathA(nullptr, appData, CSIDL_APPDATA, FALSE)) return false;
    folder = std::string(appData) + "\\Velmora\\Undo";
    return true;
}

// "D" stands for a digit.
bool MatchesPattern(const std::string& text, size_t at, const char* pattern) {
    for (size_t i = 0; pattern[i]; ++i) {
        if (at + i >= text.size()) return false;
        const unsigned char c = static_cast<unsigned char>(text[at + i]);
        if (pattern[i] == 'D' ? !isdigit(c) : c != static_cast<unsigned char>(pattern[i])) return false;
    }
    return true;
}
}  // namespace

CRestoreTab::CRestoreTab() : CPlugInPage(IDD_RESTORE_TAB) {}

std::string CRestoreTab::UndoArchiveApplication(const std::string& fileName) {
    static const char kExtension[] = ".vlb";
    static const char kStamp[] = " DDDD-DD-DD DD-DD-DD";
    const size_t extension = sizeof(kExtension) - 1, stamp = sizeof(kStamp) - 1;
    if (fileName.size() <= extension || _stricmp(fileName.c_str() + fileName.size() - extension, kExtension) != 0)
        return std::string();
    std::string name = fileName.substr(0, fileName.size() - extension);
    // A second undo archive within one second: " (n)".
    if (!name.empty() && name.back() == ')') {
        size_t open = name.rfind(" (");
        if (open == std::string::npos) return std::string();
        name.erase(open);
    }
    if (name.size() <= stamp || !MatchesPattern(name, name.size() - stamp, kStamp)) return std::string();
    return name.substr(0, name.size() - stamp);
}

bool CRestoreTab::FindNewestUndoArchive(std::string& path, std::string& name) const {
    std::string folder;
    if (!m_host || !UndoFolder(folder)) return false;
    FILETIME newest = {};
    bool found = false;
    WIN32_FIND_DATAA data;
    CFindHandle find;
    for (bool more = find.First((folder + "\\*.vlb").c_str(), data); more; more = find.Next(data)) {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        std::string application = UndoArchiveApplication(data.cFileName);
        if (application.empty() || !m_host->FindPlugIn(application)) continue;
        if (found && CompareFileTime(&data.ftLastWriteTime, &newest) <= 0) continue;
        newest = data.ftLastWriteTime;
        path = folder + "\\" + data.cFileName;
        name = application;
        found = true;
    }
    return found;
}

void CRestoreTab::UpdateUndoButton() {
    std::string path, name;
    EnableWindow(GetDlgItem(GetHwnd(), IDC_RESTORE_UNDO), FindNewestUndoArchive(path, name));
}

std::string CRestoreTab::ApplicationName(const std::string& archivePath) {
    return ClientNameOfArchive(archivePath);
}

BOOL CRestoreTab::OnInitDialog() {
    m_host = MainHost();
    if (!m_host) return FALSE;
    SetUpControls(IDC_RESTORE_TREE, IDC_RESTORE_PROFILES, IDC_RESTORE_ITEMS, IDS_RESTORE_SELECT,
                  IDS_RESTORE_PROFILE, IDS_RESTORE_ITEM);
    UpdateUndoButton();
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
    case IDC_RESTORE_UNDO:
        OnUndoLastRestore();
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
    UpdateUndoButton();
    ReportRestore(result);
}

void CRestoreTab::ReportRestore(int result) {
    if (result == 1)
        ShowMessage(LoadResString(IDS_RESTORE_DONE), IDS_RESTORE_COMPLETED, MB_ICONINFORMATION);
    else
        ShowMessage(LoadResString(IDS_RESTORE_FAILED), IDS_ERROR, MB_ICONERROR);
}

void CRestoreTab::OnUndoLastRestore() {
    std::string path, name;
    CEnginePlugIn* plugIn = nullptr;
    if (!FindNewestUndoArchive(path, name) || !(plugIn = m_host->FindPlugIn(name))) {
        UpdateUndoButton();
        return;
    }
    // The whole undo archive is restored by the plug-in's restore engine,
    // which holds the archive chosen on this page until then.
    int result = RunWithMainWindowDisabled([&] {
        plugIn->UninitRestore();
        if (plugIn->InitRestore(path) == 0) return 0;
        plugIn->Enable();
        return plugIn->Restore();
    });
    plugIn->UninitRestore();
    if (result == 1 && !DeleteFileA(path.c_str()))
        LOG_ERROR("Failed to delete the used undo file %s with error = %d.", path.c_str(),
                  static_cast<int>(GetLastError()));
    // The page's lists of that mail client come back from the archive chosen.
    auto chosen = m_archivePaths.find(name);
    if (chosen != m_archivePaths.end() && plugIn->InitRestore(chosen->second) != 0) plugIn->Enable();
    HTREEITEM selected = TreeView_GetSelection(m_tree);
    if (selected && reinterpret_cast<CEnginePlugIn*>(GetItemData(selected)) == plugIn)
        FillProfileList(plugIn, kRestoreSide);
    UpdateUndoButton();
    ReportRestore(result);
}

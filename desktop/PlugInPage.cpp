#include "PlugInPage.h"

#include "EngineHost.h"
#include "EnginePlugIn.h"
#include "ResourceModule.h"
#include "VelmoraApp.h"
#include "VelmoraDlg.h"
#include "resource.h"

namespace {
// Image list order: account, profile, message, Outlook Express, Outlook, address book.
const UINT kListIcons[] = {IDI_ACCOUNT, IDI_PROFILE, IDI_MESSAGES, IDI_OUTLOOK_EXPRESS, IDI_OUTLOOK,
                           IDI_ADDRESS_BOOK_OPEN};
const int kProfileImage = 1;
const int kAccountImage = 0;
const int kMessageImage = 2;

HIMAGELIST MakeImageList(int size) {
    HIMAGELIST list = ImageList_Create(size, size, ILC_MASK | ILC_COLOR24, 1, 1);
    for (UINT id : kListIcons) {
        HICON icon = static_cast<HICON>(
            LoadImageA(GetProgramModule(), MAKEINTRESOURCEA(id), IMAGE_ICON, size, size, 0));
        ImageList_AddIcon(list, icon);
        if (icon) DestroyIcon(icon);
    }
    return list;
}

void AddColumn(HWND list, int index, UINT textId, int width) {
    std::string text = LoadResString(textId);
    LVCOLUMNA column = {};
    column.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = width;
    column.pszText = const_cast<char*>(text.c_str());
    column.iSubItem = index;
    SendMessageA(list, LVM_INSERTCOLUMNA, index, reinterpret_cast<LPARAM>(&column));
}

// Adds a row whose check box shows enabled and whose column 1 is name.
void AddRow(HWND list, int row, int image, const std::string& name, LPARAM data, bool enabled) {
    LVITEMA item = {};
    item.mask = LVIF_IMAGE | LVIF_PARAM | LVIF_TEXT;
    item.iItem = row;
    item.iImage = image;
    item.lParam = data;
    item.pszText = const_cast<char*>("");
    int index = static_cast<int>(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    LVITEMA text = {};
    text.iSubItem = 1;
    text.pszText = const_cast<char*>(name.c_str());
    SendMessageA(list, LVM_SETITEMTEXTA, index, reinterpret_cast<LPARAM>(&text));
    ListView_SetCheckState(list, index, enabled ? TRUE : FALSE);
}
}  // namespace

CPlugInPage::~CPlugInPage() {
    if (m_treeImages) ImageList_Destroy(m_treeImages);
    for (HIMAGELIST list : m_largeImages)
        if (list) ImageList_Destroy(list);
    for (HIMAGELIST list : m_smallImages)
        if (list) ImageList_Destroy(list);
}

CEngineHost* CPlugInPage::MainHost() {
    CVelmoraApp* app = CVelmoraApp::Get();
    CVelmoraDlg* main = app ? app->GetMainWnd() : nullptr;
    return main ? main->GetHost() : nullptr;
}

int CPlugInPage::ApplicationImage(const std::string& name) {
    if (name == "Outlook Express") return 3;
    if (name == "Outlook") return 4;
    return -1;
}

int CPlugInPage::CheckValue(UINT state) {
    UINT image = (state & LVIS_STATEIMAGEMASK) >> 12;
    return image == 0 ? 0 : static_cast<int>(image) - 1;
}

bool CPlugInPage::OnCommand(int id, int code) {
    if (id == IDOK || id == IDCANCEL) return true;
    return CDialogBase::OnCommand(id, code);
}

bool CPlugInPage::OnNotify(NMHDR* header, LRESULT& result) {
    result = 0;
    if (!m_host) return false;
    if (header->hwndFrom == m_tree && (header->code == TVN_SELCHANGEDA || header->code == TVN_SELCHANGEDW))
        OnApplicationSelected(*reinterpret_cast<NMTREEVIEWA*>(header));
    else if (header->hwndFrom == m_tree && header->code == NM_CLICK)
        OnApplicationClicked();
    else if (header->hwndFrom == m_profiles && header->code == LVN_ITEMCHANGED)
        OnProfileChanged(*reinterpret_cast<NMLISTVIEW*>(header));
    else if (header->hwndFrom == m_items && header->code == LVN_ITEMCHANGED)
        OnItemChanged(*reinterpret_cast<NMLISTVIEW*>(header));
    else
        return false;
    return true;
}

bool CPlugInPage::IsStateChange(const NMLISTVIEW& change) const {
    return !m_filling && (change.uOldState != 0 || change.uNewState != 0) && change.lParam != 0;
}

bool CPlugInPage::ApplyItemCheck(const NMLISTVIEW& change) {
    int newCheck = CheckValue(change.uNewState);
    if (!IsStateChange(change) || CheckValue(change.uOldState) == newCheck) return false;
    CBackupItem* item = reinterpret_cast<CBackupItem*>(change.lParam);
    if (newCheck == 1) item->Enable();
    else item->Disable();
    return true;
}

bool CPlugInPage::ApplyIdentityCheck(const NMLISTVIEW& change) {
    int newCheck = CheckValue(change.uNewState);
    if (CheckValue(change.uOldState) == newCheck) return false;
    CBackupIdentity* identity = reinterpret_cast<CBackupIdentity*>(change.lParam);
    if (newCheck == 1) identity->Enable();
    else identity->Disable();
    return true;
}

bool CPlugInPage::TickItemsOfSelectedRow(const NMLISTVIEW& change) {
    if (change.iItem != ListView_GetNextItem(m_profiles, -1, LVNI_SELECTED)) return false;
    bool ticked = CheckValue(change.uNewState) == 1;
    int rows = ListView_GetItemCount(m_items);
    for (int row = 0; row < rows; ++row) ListView_SetCheckState(m_items, row, ticked);
    return true;
}

void CPlugInPage::SetUpControls(int treeId, int profilesId, int itemsId, UINT selectText,
                                UINT profileText, UINT itemText) {
    m_tree = GetItem(treeId);
    m_profiles = GetItem(profilesId);
    m_items = GetItem(itemsId);

    LONG_PTR treeStyle = GetWindowLongPtrA(m_tree, GWL_STYLE);
    if ((treeStyle & (TVS_CHECKBOXES | TVS_SHOWSELALWAYS)) != (TVS_CHECKBOXES | TVS_SHOWSELALWAYS))
        SetWindowLongPtrA(m_tree, GWL_STYLE, treeStyle | TVS_CHECKBOXES | TVS_SHOWSELALWAYS);
    SetWindowLongPtrA(m_profiles, GWL_STYLE, GetWindowLongPtrA(m_profiles, GWL_STYLE) | LVS_SHOWSELALWAYS);

    // The tree takes the small icons only.
    m_treeImages = MakeImageList(GetSystemMetrics(SM_CXSMICON));
    TreeView_SetImageList(m_tree, m_treeImages, TVSIL_NORMAL);
    HWND lists[2] = {m_profiles, m_items};
    for (int i = 0; i < 2; ++i) {
        m_largeImages[i] = MakeImageList(GetSystemMetrics(SM_CXICON));
        m_smallImages[i] = MakeImageList(GetSystemMetrics(SM_CXSMICON));
        ListView_SetImageList(lists[i], m_largeImages[i], LVSIL_NORMAL);
        ListView_SetImageList(lists[i], m_smallImages[i], LVSIL_SMALL);
        ListView_SetExtendedListViewStyle(lists[i], LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    }
    AddColumn(m_profiles, 0, selectText, 70);
    AddColumn(m_profiles, 1, profileText, 100);
    AddColumn(m_items, 0, selectText, 70);
    AddColumn(m_items, 1, itemText, 100);
}

bool CPlugInPage::FillProfileList(CEnginePlugIn* plugIn, unsigned char side) {
    ListView_DeleteAllItems(m_profiles);
    IdentityList* identities = nullptr;
    if (plugIn) plugIn->GetIdentities(&identities, side);
    if (!identities) return false;
    m_filling = true;
    for (size_t i = 0; i < identities->size(); ++i) {
        CBackupIdentity* identity = (*identities)[i];
        AddRow(m_profiles, static_cast<int>(i), kProfileImage, identity->GetName(),
               reinterpret_cast<LPARAM>(identity), identity->IsEnabled());
    }
    m_filling = false;
    if (!identities->empty()) {
        m_currentProfile = 0;
        FillItemList(identities->front());
    }
    return true;
}

void CPlugInPage::FillItemList(CBackupIdentity* identity) {
    ListView_DeleteAllItems(m_items);
    BackupItemList* items = identity ? identity->GetItems() : nullptr;
    if (!items) return;
    m_filling = true;
    for (size_t i = 0; i < items->size(); ++i) {
        CBackupItem* item = (*items)[i];
        std::string name = item->GetName();
        int image = lstrcmpiA(name.c_str(), "Accounts") == 0 ? kAccountImage : kMessageImage;
        AddRow(m_items, static_cast<int>(i), image, name, reinterpret_cast<LPARAM>(item), item->IsEnabled());
    }
    m_filling = false;
}

HTREEITEM CPlugInPage::HitCheckBox() const {
    // Where the click happened, not where the mouse has moved since.
    DWORD clicked = GetMessagePos();
    TVHITTESTINFO hit = {};
    hit.pt.x = static_cast<short>(LOWORD(clicked));
    hit.pt.y = static_cast<short>(HIWORD(clicked));
    ScreenToClient(m_tree, &hit.pt);
    // The tree itself says whether the point is on the check box (its state
    // image), whose width follows the display's DPI.
    HTREEITEM item = TreeView_HitTest(m_tree, &hit);
    if (!item || !(hit.flags & TVHT_ONITEMSTATEICON)) return nullptr;
    return item;
}

bool CPlugInPage::IsTicked(HTREEITEM item) const {
    UINT state = TreeView_GetItemState(m_tree, item, TVIS_STATEIMAGEMASK);
    return (state >> 12) == 2;
}

void CPlugInPage::SetTicked(HTREEITEM item, bool ticked) {
    TreeView_SetItemState(m_tree, item, INDEXTOSTATEIMAGEMASK(ticked ? 2 : 1), TVIS_STATEIMAGEMASK);
}

LPARAM CPlugInPage::GetItemData(HTREEITEM item) const {
    TVITEMA tv = {};
    tv.mask = TVIF_HANDLE | TVIF_PARAM;
    tv.hItem = item;
    SendMessageA(m_tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
    return tv.lParam;
}

HTREEITEM CPlugInPage::InsertApplication(const std::string& name, LPARAM data, bool selected) {
    int image = ApplicationImage(name);
    TVINSERTSTRUCTA insert = {};
    insert.hParent = TVI_ROOT;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM | TVIF_STATE;
    insert.item.pszText = const_cast<char*>(name.c_str());
    insert.item.iImage = insert.item.iSelectedImage = image;
    insert.item.lParam = data;
    insert.item.state = INDEXTOSTATEIMAGEMASK(1) | (selected ? TVIS_SELECTED : 0);
    insert.item.stateMask = TVIS_STATEIMAGEMASK | TVIS_SELECTED;
    return reinterpret_cast<HTREEITEM>(
        SendMessageA(m_tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
}

void CPlugInPage::SelectRow(HWND list, int row) {
    ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
}

void CPlugInPage::SetListEnabled(HWND list, bool enabled) {
    LONG_PTR style = GetWindowLongPtrA(list, GWL_STYLE);
    SetWindowLongPtrA(list, GWL_STYLE, enabled ? (style & ~WS_DISABLED) : (style | WS_DISABLED));
    InvalidateRect(list, nullptr, TRUE);
}

void CPlugInPage::SetListsEnabled(bool enabled) {
    SetListEnabled(m_profiles, enabled);
    SetListEnabled(m_items, enabled);
}

int CPlugInPage::ShowMessage(const std::string& text, UINT captionId, UINT icon) {
    return MessageBoxA(GetHwnd(), text.c_str(), LoadResString(captionId).c_str(), icon);
}

// CPlugInPage: what the Backup and Restore pages share: the application tree
// with check boxes, the profile and item lists, their image lists and
// columns, and how a plug-in's identities and items are listed.
#pragma once
#include <string>

#include "DialogBase.h"
#include "PlugInContract.h"

class CEngineHost;
class CEnginePlugIn;

class CPlugInPage : public CDialogBase {
public:
    explicit CPlugInPage(UINT templateId) : CDialogBase(templateId) {}
    ~CPlugInPage() override;

    // The main window's host, or null when there is none.
    static CEngineHost* MainHost();
    // Tree image of an application: 3 "Outlook Express", 4 "Outlook", -1 other.
    static int ApplicationImage(const std::string& name);
    // The check-box value of a list row state: state image index - 1, 0 without one.
    static int CheckValue(UINT state);

protected:
    // A page never ends itself: IDOK and IDCANCEL (Enter, Escape) are swallowed.
    bool OnCommand(int id, int code) override;
    // Hands the tree's and the lists' notifications to the handlers below;
    // every notification answers 0. Nothing is handled without a host.
    bool OnNotify(NMHDR* header, LRESULT& result) override;
    virtual void OnApplicationSelected(const NMTREEVIEWA& change) = 0;
    virtual void OnApplicationClicked() = 0;
    virtual void OnProfileChanged(const NMLISTVIEW& change) = 0;
    // Enables or disables the row's item when its check box changed.
    virtual void OnItemChanged(const NMLISTVIEW& change) { ApplyItemCheck(change); }

    // False for changes that carry no state, and while rows are being added.
    bool IsStateChange(const NMLISTVIEW& change) const;
    // Enable or Disable on the row's object when its check box changed; true then.
    bool ApplyItemCheck(const NMLISTVIEW& change);
    bool ApplyIdentityCheck(const NMLISTVIEW& change);
    // When the row is the list's first selected one, every item row takes its
    // check value; true then.
    bool TickItemsOfSelectedRow(const NMLISTVIEW& change);

    // Binds the three controls, adds the image lists and the two columns.
    void SetUpControls(int treeId, int profilesId, int itemsId, UINT selectText, UINT profileText,
                       UINT itemText);
    // Lists the identities of one side of a plug-in; row 0 becomes the current
    // profile and its items are listed. False when the plug-in has no list.
    bool FillProfileList(CEnginePlugIn* plugIn, unsigned char side);
    void FillItemList(CBackupIdentity* identity);

    // The tree item whose check box the last click hit, or null.
    HTREEITEM HitCheckBox() const;
    bool IsTicked(HTREEITEM item) const;
    void SetTicked(HTREEITEM item, bool ticked);
    LPARAM GetItemData(HTREEITEM item) const;
    HTREEITEM InsertApplication(const std::string& name, LPARAM data, bool selected);

    void SelectRow(HWND list, int row);
    void SetListEnabled(HWND list, bool enabled);
    void SetListsEnabled(bool enabled);

    int ShowMessage(const std::string& text, UINT captionId, UINT icon);
    // Runs a plug-in's Backup or Restore with the main window disabled, so no
    // other export of the busy plug-in can be reached meanwhile.
    template <typename Run> int RunWithMainWindowDisabled(Run run);

    CEngineHost* m_host = nullptr;
    HWND m_tree = nullptr;
    HWND m_profiles = nullptr;
    HWND m_items = nullptr;
    int m_currentProfile = -1;
    // Set while rows are added: the check boxes then show the plug-in's own
    // state, and their change notifications carry no user choice.
    bool m_filling = false;

private:
    HIMAGELIST m_treeImages = nullptr;
    HIMAGELIST m_largeImages[2] = {};
    HIMAGELIST m_smallImages[2] = {};
};

template <typename Run>
int CPlugInPage::RunWithMainWindowDisabled(Run run) {
    HWND main = GetAncestor(GetHwnd(), GA_ROOT);
    bool wasEnabled = main && IsWindowEnabled(main);
    if (wasEnabled) EnableWindow(main, FALSE);
    int result = run();
    if (wasEnabled) EnableWindow(main, TRUE);
    return result;
}

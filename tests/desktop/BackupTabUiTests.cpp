// The Backup page driven through its real controls, with test plug-ins that
// record every call.
#include <shlobj.h>

#include "DesktopFixture.h"
#include "EngineHost.h"
#include "EnginePlugIn.h"
#include "MailFixture.h"

namespace {
struct BackupPage : DesktopFixture {
    HWND tree = nullptr, profiles = nullptr, items = nullptr;
    void SetUp() override {
        DesktopFixture::SetUp();
        AddMailPlugIns();
        Start();
        tree = GetDlgItem(Page(0), IDC_BACKUP_TREE);
        profiles = GetDlgItem(Page(0), IDC_BACKUP_PROFILES);
        items = GetDlgItem(Page(0), IDC_BACKUP_ITEMS);
    }
    // Clicks, waits until the control's texts change (or, when nothing
    // should change, a while), and expects exactly these calls of the exports.
    void Click(HWND control, POINT point, const std::vector<std::string>& exports,
               const std::vector<std::string>& expected, bool changes = true) {
        std::string before = Texts(control);
        ClearCalls();
        ClickAt(control, point);
        EXPECT_EQ(changes, WaitUntil([&] { return Texts(control) != before; }, changes ? 10000 : 500)) << before;
        WaitUntil([&] { return CallsOf(exports) == expected; }, 2000);
        EXPECT_EQ(expected, CallsOf(exports));
    }
    // (Selecting an unticked application disables it as well.)
    void ClickApplication(int index, const char* exportName, const std::vector<std::string>& expected, bool checkBox = true) {
        Click(tree, TreePoint(tree, TreeRootItems(tree).at(index), checkBox), {exportName}, expected, checkBox);
    }
    void Tick(HWND list, int row, const std::vector<std::string>& expected) {
        Click(list, ListPoint(list, row, true), {"Identity", "Item"}, expected);
    }
    void Select(int row) {
        ClickAt(profiles, ListPoint(profiles, row, false));
        ASSERT_TRUE(WaitUntil([&] { return ListView_GetNextItem(profiles, -1, LVNI_SELECTED) == row; }));
    }
};
}  // namespace

TEST_F(BackupPage, ListsApplicationsAndTicksApplicationsProfilesAndItems) {
    // The first plug-in's identities and items, the lists disabled until ticked.
    EXPECT_EQ("Outlook, Outlook Express, ", Texts(tree));
    EXPECT_EQ("Main Identity, Second Identity, ", Texts(profiles));
    EXPECT_EQ("Messages, Accounts, ", Texts(items));
    EXPECT_FALSE(IsWindowEnabled(profiles) || IsWindowEnabled(items));
    EXPECT_EQ((std::vector<std::string>{"Outlook:InitBackup", "Outlook Express:InitBackup"}), CallsOf({"InitBackup"}));
    // The window's thread is in a single-threaded COM apartment (the folder
    // browser and ShellExecute need one).
    EXPECT_EQ((std::vector<std::string>{"Outlook:Apartment(sta)", "Outlook Express:Apartment(sta)"}),
              CallsOf({"Apartment"}));

    ClickApplication(1, "Enable", {}, false);   // a click on the name ticks nothing
    ClickApplication(1, "Enable", {"Outlook Express:Enable"});
    EXPECT_TRUE(IsWindowEnabled(profiles) && IsWindowEnabled(items));

    // Ticking the selected profile ticks its items.
    Select(0);
    Tick(profiles, 0, {"Outlook Express:IdentityEnable(Main Identity)", "Outlook Express:ItemEnable(Main Identity/Messages)",
                       "Outlook Express:ItemEnable(Main Identity/Accounts)"});
    EXPECT_EQ("Messages+, Accounts+, ", Texts(items));
    // Another row: only its identity is enabled; it becomes the current
    // profile, its items listed as the identity ticked them.
    Tick(profiles, 1, {"Outlook Express:IdentityEnable(Second Identity)"});
    EXPECT_EQ(1, ListView_GetNextItem(profiles, -1, LVNI_SELECTED));
    EXPECT_EQ("Messages+, Accounts+, ", Texts(items));
    Tick(items, 1, {"Outlook Express:ItemDisable(Second Identity/Accounts)"});
    // Clearing the selected profile clears and disables its items.
    Select(0);
    Tick(profiles, 0, {"Outlook Express:IdentityDisable(Main Identity)", "Outlook Express:ItemDisable(Main Identity/Messages)",
                       "Outlook Express:ItemDisable(Main Identity/Accounts)"});
    EXPECT_TRUE(WaitUntil([&] { return Texts(items) == "Messages, Accounts, "; }));
    EXPECT_FALSE(IsWindowEnabled(items));

    ClickApplication(1, "Disable", {"Outlook Express:Disable"});
    EXPECT_FALSE(IsWindowEnabled(profiles) || IsWindowEnabled(items));
}

TEST_F(BackupPage, RunBackupNeedsAFolderAndReportsSuccessAndFailureHonestly) {
    ClickApplication(0, "Enable", {"Outlook:Enable"});
    ClickApplication(1, "Enable", {"Outlook Express:Enable"});
    Press(Page(0), IDC_BACKUP_RUN);
    EXPECT_EQ("Please select backup folder", Answer("Error"));
    EXPECT_TRUE(CallsOf({"Backup"}).empty());

    // The folder browser lists drive C:, not the temporary folder under it.
    std::string folder = "C:\\VelmoraBackupTest-" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(MakeDirs(folder));
    Press(Page(0), IDC_BACKUP_BROWSE);
    HWND browse = WaitForDialog();
    SendMessageA(browse, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(folder.c_str()));
    Settle(browse);
    Dismiss(browse);
    RemoveTree(folder);
    ASSERT_EQ(folder, WindowText(GetDlgItem(Page(0), IDC_PATH_EDIT)));

    // Each enabled plug-in in name order, the main window disabled while it runs.
    std::string report;
    for (const char* name : {"Outlook", "Outlook Express"})
        report += std::string("-------------------- ") + name + " --------------------\nSystem information of " +
                  name + " padded well past the small-string buffer\n\n";
    Press(Page(0), IDC_BACKUP_RUN);
    EXPECT_EQ(report + LoadResString(IDS_BACKUP_NOTE), Answer("Backup completed successfully"));
    std::vector<std::string> both = {"Outlook:Backup(" + folder + ") main=disabled",
                                     "Outlook Express:Backup(" + folder + ") main=disabled"};
    EXPECT_EQ(both, CallsOf({"Backup"}));
    EXPECT_TRUE(IsWindowEnabled(Main()));

    // The first failure stops the run and is said to be one.
    SetEnv("VELMORA_TEST_Outlook_Backup", "0");
    ClearCalls();
    Press(Page(0), IDC_BACKUP_RUN);
    EXPECT_EQ("Backup operation has failed.", Answer("Error"));
    EXPECT_EQ(std::vector<std::string>{both[0]}, CallsOf({"Backup"}));
    EXPECT_TRUE(IsWindowEnabled(Main()));
}

// Above 96 DPI the check boxes are wider (20 pixels at 120 DPI): a click on
// any part of one ticks the application and reaches its plug-in, and a click
// beside it does neither. The tree is given state images of that size.
TEST_F(BackupPage, ClickAnywhereOnAWideCheckBoxEnablesThePlugIn) {
    HIMAGELIST states = ImageList_Create(20, 20, ILC_COLOR24, 3, 0);
    ASSERT_TRUE(states && ImageList_SetImageCount(states, 3));
    SendMessageA(tree, TVM_SETIMAGELIST, TVSIL_STATE, reinterpret_cast<LPARAM>(states));
    // Setting an item's state lays it out again with the new state images.
    for (HTREEITEM root : TreeRootItems(tree))
        TreeView_SetItemState(tree, root, TreeView_GetItemState(tree, root, TVIS_STATEIMAGEMASK), TVIS_STATEIMAGEMASK);
    HTREEITEM item = TreeRootItems(tree).at(1);
    RECT row = {};
    TreeView_GetItemRect(tree, item, &row, FALSE);
    int y = (row.top + row.bottom) / 2, first = -1, last = -1;
    for (int x = 0; x < row.right; ++x) {
        TVHITTESTINFO hit = {{x, y}, 0, nullptr};
        if (TreeView_HitTest(tree, &hit) != item || !(hit.flags & TVHT_ONITEMSTATEICON)) continue;
        if (first < 0) first = x;
        last = x;
    }
    ASSERT_GE(last - first, 16) << "the check box did not widen: " << first << ".." << last;

    const std::vector<std::string> both = {"Enable", "Disable"};
    Click(tree, TreePoint(tree, item, false), both, {"Outlook Express:Disable"}, false);  // selects it
    Click(tree, {last, y}, both, {"Outlook Express:Enable"});
    EXPECT_EQ("Outlook, Outlook Express+, ", Texts(tree));
    Click(tree, {first, y}, both, {"Outlook Express:Disable"});
    EXPECT_EQ("Outlook, Outlook Express, ", Texts(tree));
    Click(tree, {last + 2, y}, both, {}, false);
    EXPECT_EQ("Outlook, Outlook Express, ", Texts(tree));

    SendMessageA(tree, TVM_SETIMAGELIST, TVSIL_STATE, 0);
    ImageList_Destroy(states);
}

// The real plug-ins on a synthetic installation: the page lists what the
// live registry holds and a tick reaches the real plug-in.
TEST_F(DesktopFixture, RealPlugInsListTheInstallationOnTheBackupPage) {
    for (const char* name : {"EnginePlugins\\Wrenfold.dll", "EnginePlugins\\Wrenmark.dll",
                             "VLOEPluginLocaleSatellite_ENU.dll", "VLOTPluginLocaleSatellite_ENU.dll"})
        ASSERT_TRUE(CopyFileA((WinePath(VELMORA_HOME_DIR) + "\\" + name).c_str(), (home / name).c_str(), FALSE)) << name;
    ASSERT_TRUE(mailfixture::SetUp(data.Path()));
    SetHome();
    Start();
    HWND tree = GetDlgItem(Page(0), IDC_BACKUP_TREE), profiles = GetDlgItem(Page(0), IDC_BACKUP_PROFILES);
    EXPECT_EQ("Outlook, Outlook Express, ", Texts(tree));
    EXPECT_EQ(mailfixture::kOutlookProfileName + std::string(", "), Texts(profiles));

    ClickAt(tree, TreePoint(tree, TreeRootItems(tree).at(1), true));
    EXPECT_TRUE(WaitUntil([&] { return Texts(tree) == "Outlook, Outlook Express+, "; })) << Texts(tree);
    // Every identity, in the registry's order, ticked as the plug-in starts them.
    size_t count = mailfixture::Identities().size();
    EXPECT_TRUE(WaitUntil([&] { return ListView_GetItemCount(profiles) == static_cast<int>(count); }));
    for (const mailfixture::OEIdentity& identity : mailfixture::Identities())
        EXPECT_NE(std::string::npos, Texts(profiles).find(identity.userName + "+, ")) << Texts(profiles);
    EXPECT_TRUE(IsWindowEnabled(profiles));
    EXPECT_TRUE(app.GetMainWnd()->GetHost()->GetPlugIn(1)->IsEnabled());
}

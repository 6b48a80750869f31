// The Backup page driven through its real controls, with test plug-ins that
// record every call.
#include <shlobj.h>

#include "DesktopFixture.h"
#include "EngineHost.h"
#include "EnginePlugIn.h"
#include "resource.h"

using namespace testsupport;
using namespace uidriver;

namespace {
const std::string kNote =
    "Please note that you can restore your backup(*.vlb) to the same user, the same operating system, "
    "and the same application where you made the backup from. \nFor more detail on how to "
    "backup/restore, click \"Help\" button to visit Velmora online help.";

// A folder at the root of drive C:, where the folder browser reaches it
// (the temporary folder lies under hidden folders it does not list).
struct DriveFolder {
    std::string path = "C:\\VelmoraBackupTest-" + std::to_string(GetCurrentProcessId());
    DriveFolder() { RemoveTree(path); CreateDirectoryA(path.c_str(), nullptr); }
    ~DriveFolder() { RemoveTree(path); }
};

struct BackupPage : DesktopFixture {
    HWND tree = nullptr, profiles = nullptr, items = nullptr;
    DriveFolder target;
    void StartWithMailPlugIns() {
        AddMailPlugIns();
        SetHome();
        Start();
        tree = BackupControl(IDC_BACKUP_TREE);
        profiles = BackupControl(IDC_BACKUP_PROFILES);
        items = BackupControl(IDC_BACKUP_ITEMS);
    }
    HTREEITEM Application(const std::string& name) {
        for (HTREEITEM item : TreeRootItems(tree))
            if (TreeItemText(tree, item) == name) return item;
        ADD_FAILURE() << "no application " << name;
        return nullptr;
    }
    void TickApplication(const std::string& name) {
        HTREEITEM item = Application(name);
        bool before = TreeItemTicked(tree, item);
        ClickAt(tree, TreeCheckBoxPoint(tree, item));
        ASSERT_TRUE(WaitUntil([&] { return TreeItemTicked(tree, item) != before; })) << name;
    }
    void ChooseFolder(const std::string& folder) {
        Press(Page(0), IDC_BACKUP_BROWSE);
        HWND browse = nullptr;
        ASSERT_TRUE(WaitUntil([&] {
            for (HWND dialog : ThreadDialogs(UiThread()))
                if (dialog != Main()) browse = dialog;
            return browse != nullptr;
        })) << "no folder browser";
        SendMessageA(browse, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(folder.c_str()));
        Settle(browse);

        Dismiss(browse, IDOK);
        ASSERT_TRUE(WaitUntil([&] { return WindowText(BackupControl(IDC_PATH_EDIT)) == folder; }))
            << "folder shown: " << WindowText(BackupControl(IDC_PATH_EDIT));
    }
};
}  // namespace

TEST_F(BackupPage, ListsOutlookFirstWithBothListsDisabled) {
    StartWithMailPlugIns();
    std::vector<HTREEITEM> roots = TreeRootItems(tree);
    ASSERT_EQ(2u, roots.size());
    EXPECT_EQ("Outlook", TreeItemText(tree, roots[0]));
    EXPECT_EQ(4, TreeItemImage(tree, roots[0]));
    EXPECT_EQ("Outlook Express", TreeItemText(tree, roots[1]));
    EXPECT_EQ(3, TreeItemImage(tree, roots[1]));
    EXPECT_FALSE(TreeItemTicked(tree, roots[0]));
    EXPECT_FALSE(TreeItemTicked(tree, roots[1]));
    EXPECT_TRUE(StyleDisabled(profiles));
    EXPECT_TRUE(StyleDisabled(items));
    // Plug-in 0's identities and the first identity's items are listed.
    ASSERT_EQ(2, ListCount(profiles));
    EXPECT_EQ("Main Identity", ListText(profiles, 0, 1));
    EXPECT_EQ("Second Identity", ListText(profiles, 1, 1));
    ASSERT_EQ(2, ListCount(items));
    EXPECT_EQ("Messages", ListText(items, 0, 1));
    EXPECT_EQ("Accounts", ListText(items, 1, 1));
    EXPECT_EQ((std::vector<std::string>{"Outlook:InitBackup", "Outlook Express:InitBackup"}),
              CallsOf("InitBackup"));
}

TEST_F(BackupPage, OnlyTheCheckBoxColumnTogglesAnApplication) {
    StartWithMailPlugIns();
    HTREEITEM express = Application("Outlook Express");
    ClearCalls();
    ClickAt(tree, TreeTextPoint(tree, express));
    EXPECT_TRUE(WaitUntil([&] { return TreeSelection(tree) == express; }));
    EXPECT_FALSE(TreeItemTicked(tree, express));
    EXPECT_TRUE(CallsOf("Enable").empty());
    EXPECT_TRUE(StyleDisabled(profiles));

    ClearCalls();
    TickApplication("Outlook Express");
    EXPECT_EQ(std::vector<std::string>{"Outlook Express:Enable"}, CallsOf("Enable"));
    EXPECT_FALSE(StyleDisabled(profiles));
    EXPECT_FALSE(StyleDisabled(items));
    EXPECT_EQ(2, ListCount(profiles));

    ClearCalls();
    TickApplication("Outlook Express");
    EXPECT_EQ(std::vector<std::string>{"Outlook Express:Disable"}, CallsOf("Disable"));
    EXPECT_TRUE(CallsOf("Enable").empty());
    EXPECT_TRUE(StyleDisabled(profiles));
    EXPECT_TRUE(StyleDisabled(items));
}

TEST_F(BackupPage, TickingTheSelectedProfileTicksItsItems) {
    StartWithMailPlugIns();
    TickApplication("Outlook Express");
    ClickAt(profiles, ListTextPoint(profiles, 0));
    ASSERT_TRUE(WaitUntil([&] { return ListSelection(profiles) == 0; }));
    ClearCalls();

    ClickAt(profiles, ListCheckBoxPoint(profiles, 0));
    ASSERT_TRUE(WaitUntil([&] { return ListTicked(profiles, 0); }));
    EXPECT_EQ(std::vector<std::string>{"Outlook Express:IdentityEnable(Main Identity)"}, CallsOf("IdentityEnable"));
    EXPECT_TRUE(WaitUntil([&] { return ListTicked(items, 0) && ListTicked(items, 1); }));
    EXPECT_EQ((std::vector<std::string>{"Outlook Express:ItemEnable(Main Identity/Messages)",
                                        "Outlook Express:ItemEnable(Main Identity/Accounts)"}),
              CallsOf("ItemEnable"));
    EXPECT_FALSE(StyleDisabled(items));

    // Another row, not the selected one: only its identity is enabled; it
    // becomes the current profile, and the page lists its items, ticked by the
    // identity itself, without calling any of them.
    ClearCalls();
    ClickAt(profiles, ListCheckBoxPoint(profiles, 1));
    ASSERT_TRUE(WaitUntil([&] { return ListTicked(profiles, 1); }));
    EXPECT_EQ(std::vector<std::string>{"Outlook Express:IdentityEnable(Second Identity)"}, CallsOf("IdentityEnable"));
    EXPECT_TRUE(CallsOf("ItemEnable").empty());
    EXPECT_EQ(1, ListSelection(profiles));
    EXPECT_TRUE(ListTicked(items, 0) && ListTicked(items, 1));

    // Clearing one item disables that item only.
    ClearCalls();
    ClickAt(items, ListCheckBoxPoint(items, 1));
    ASSERT_TRUE(WaitUntil([&] { return !ListTicked(items, 1); }));
    EXPECT_EQ(std::vector<std::string>{"Outlook Express:ItemDisable(Second Identity/Accounts)"}, CallsOf("ItemDisable"));
    EXPECT_TRUE(CallsOf("IdentityDisable").empty());

    // Clearing the selected profile clears and disables its items.
    ClickAt(profiles, ListTextPoint(profiles, 0));
    ClearCalls();
    ClickAt(profiles, ListCheckBoxPoint(profiles, 0));
    ASSERT_TRUE(WaitUntil([&] { return !ListTicked(profiles, 0); }));
    EXPECT_EQ(std::vector<std::string>{"Outlook Express:IdentityDisable(Main Identity)"}, CallsOf("IdentityDisable"));
    EXPECT_TRUE(WaitUntil([&] { return !ListTicked(items, 0) && !ListTicked(items, 1); }));
    EXPECT_TRUE(StyleDisabled(items));
}

TEST_F(BackupPage, RunBackupWithoutFolderAsksForOneAndCallsNothing) {
    StartWithMailPlugIns();
    TickApplication("Outlook Express");
    ClearCalls();
    Press(Page(0), IDC_BACKUP_RUN);
    HWND box = ExpectBox("Error");
    EXPECT_EQ("Please select backup folder", MessageBoxText(box));
    Dismiss(box);
    EXPECT_TRUE(CallsOf("Backup").empty());
    EXPECT_TRUE(CallsOf("IsEnabled").empty());
}

TEST_F(BackupPage, SuccessfulBackupReportsEachEnabledPlugIn) {
    StartWithMailPlugIns();
    TickApplication("Outlook");
    TickApplication("Outlook Express");
    ChooseFolder(target.path);
    ClearCalls();
    Press(Page(0), IDC_BACKUP_RUN);
    HWND box = ExpectBox("Backup completed successfully");
    std::string expected;
    for (const char* name : {"Outlook", "Outlook Express"})
        expected += std::string("-------------------- ") + name + " --------------------\n" +
                    "System information of " + name + " padded well past the small-string buffer\n\n";
    EXPECT_EQ(expected + kNote, MessageBoxText(box));
    Dismiss(box);
    // Both in name order, each with the folder unchanged, the main window
    // disabled while they ran and enabled again afterwards.
    EXPECT_EQ((std::vector<std::string>{"Outlook:Backup(" + target.path + ") main=disabled",
                                        "Outlook Express:Backup(" + target.path + ") main=disabled"}),
              CallsOf("Backup"));
    EXPECT_TRUE(IsWindowEnabled(Main()));
}

TEST_F(BackupPage, FailedBackupSaysSo) {
    StartWithMailPlugIns();
    TickApplication("Outlook");
    TickApplication("Outlook Express");
    ChooseFolder(target.path);
    SetEnv("VELMORA_TEST_Outlook_Backup", "0");
    ClearCalls();
    Press(Page(0), IDC_BACKUP_RUN);
    HWND box = ExpectBox("Error");
    EXPECT_EQ("Backup operation has failed.", MessageBoxText(box));
    Dismiss(box);
    // The first failure stops the run.
    EXPECT_EQ(std::vector<std::string>{"Outlook:Backup(" + target.path + ") main=disabled"}, CallsOf("Backup"));
    EXPECT_TRUE(IsWindowEnabled(Main()));
}

// The real engine plug-ins, as far as they go on their own today: names,
// order and the enabled state. (A synthetic mail installation and real
// backups join at integration.)
TEST_F(BackupPage, RealPlugInsAreListedOutlookFirstAndTickable) {
    for (const char* name : {"Wrenfold.dll", "Wrenmark.dll"})
        ASSERT_TRUE(CopyFileA((WinePath(VELMORA_HOME_DIR) + "\\EnginePlugins\\" + name).c_str(),
                              (home / "EnginePlugins\\" + name).c_str(), FALSE));
    // Wrenmark's name comes from its satellite library.
    for (const char* name : {"VLOEPluginLocaleSatellite_ENU.dll", "VLOTPluginLocaleSatellite_ENU.dll"})
        ASSERT_TRUE(CopyFileA((WinePath(VELMORA_HOME_DIR) + "\\" + name).c_str(), (home / name).c_str(), FALSE));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, "Software\\Microsoft\\Office\\11.0", "Marker", "1"));
    SetHome();
    Start();
    CEngineHost* host = app.GetMainWnd()->GetHost();
    ASSERT_EQ(2, host->GetPlugInCount());
    ASSERT_EQ("Outlook", host->GetPlugIn(0)->GetName());
    ASSERT_EQ("Outlook Express", host->GetPlugIn(1)->GetName());
    tree = BackupControl(IDC_BACKUP_TREE);
    profiles = BackupControl(IDC_BACKUP_PROFILES);
    items = BackupControl(IDC_BACKUP_ITEMS);
    std::vector<HTREEITEM> roots = TreeRootItems(tree);
    ASSERT_EQ(2u, roots.size());
    EXPECT_EQ("Outlook", TreeItemText(tree, roots[0]));
    EXPECT_EQ("Outlook Express", TreeItemText(tree, roots[1]));
    EXPECT_TRUE(StyleDisabled(profiles));
    TickApplication("Outlook Express");
    EXPECT_TRUE(host->GetPlugIn(1)->IsEnabled());
    EXPECT_FALSE(StyleDisabled(profiles));
    TickApplication("Outlook Express");
    EXPECT_FALSE(host->GetPlugIn(1)->IsEnabled());
}

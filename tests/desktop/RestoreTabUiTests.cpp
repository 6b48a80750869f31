// The Restore page driven through its real controls: the restore warning, the
// file dialog, archives accepted and refused, and Run Restore. The test
// plug-ins read an archive as one identity name per line.
#include "DesktopFixture.h"
#include "ORRegistryUtil.h"
#include "resource.h"

using namespace testsupport;
using namespace uidriver;

namespace {
const int kFileNameCombo = 0x47C;   // the file dialog's file name box
const int kFileNameEdit = 0x480;    // its older form

struct RestorePage : DesktopFixture {
    HWND tree = nullptr, profiles = nullptr;
    void StartOnRestorePage(bool warningOff = true) {
        AddMailPlugIns();
        SetHome();
        if (warningOff) ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, kProductKey, "Restore Warning Off", 1));
        Start();
        ShowRestorePage();
        tree = RestoreControl(IDC_RESTORE_TREE);
        profiles = RestoreControl(IDC_RESTORE_PROFILES);
    }
    std::string WriteArchive(const std::string& folder, const std::string& name, const std::string& identities) {
        MakeDirs(folder);
        std::string path = folder + "\\" + name;
        EXPECT_TRUE(WriteFileBytes(path, identities));
        return path;
    }
    HWND WaitForFileDialog(int timeoutMs = 10000) {
        HWND open = nullptr;
        WaitUntil([&] {
            for (HWND dialog : ThreadDialogs(UiThread()))
                if (dialog != Main() && (GetDlgItem(dialog, kFileNameCombo) || GetDlgItem(dialog, kFileNameEdit)))
                    open = dialog;
            return open != nullptr;
        }, timeoutMs);
        return open;
    }
    // Types the path into the file dialog and presses Open.
    void Choose(const std::string& path) {
        Press(Page(1), IDC_RESTORE_BROWSE);
        HWND open = WaitForFileDialog();
        ASSERT_NE(nullptr, open) << "no file dialog";
        HWND name = GetDlgItem(open, kFileNameCombo) ? GetDlgItem(open, kFileNameCombo) : GetDlgItem(open, kFileNameEdit);
        SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
        Dismiss(open, IDOK);
        Settle(Page(1));
    }
    std::vector<std::string> TreeTexts() {
        std::vector<std::string> texts;
        for (HTREEITEM item : TreeRootItems(tree)) texts.push_back(TreeItemText(tree, item));
        return texts;
    }
};
}  // namespace

TEST_F(RestorePage, WarningComesFirstClosesOnlyWithOkAndCanBeTurnedOff) {
    StartOnRestorePage(false);
    Press(Page(1), IDC_RESTORE_BROWSE);
    HWND warning = ExpectBox("For successful restore...");
    ASSERT_NE(nullptr, warning);
    // Escape, the close box and Cancel are not ways out.
    PostMessageA(warning, WM_SYSCOMMAND, SC_CLOSE, 0);
    PostMessageA(warning, WM_KEYDOWN, VK_ESCAPE, 0);
    Press(warning, IDCANCEL);
    Settle(warning, 500);
    EXPECT_TRUE(IsWindowVisible(warning));
    EXPECT_EQ(nullptr, WaitForFileDialog(0)) << "file dialog before the warning closed";

    SendMessageA(GetDlgItem(warning, IDC_WARNING_OFF), BM_SETCHECK, BST_CHECKED, 0);
    Dismiss(warning, IDOK);
    HWND open = WaitForFileDialog();
    ASSERT_NE(nullptr, open);
    DWORD off = 0;
    EXPECT_TRUE(ORRegistryUtil::ReadDwordFromRegistry(HKEY_CURRENT_USER, kProductKey, "Restore Warning Off", off));
    EXPECT_EQ(1u, off);
    Dismiss(open, IDCANCEL);

    // From now on "..." goes straight to the file dialog.
    Press(Page(1), IDC_RESTORE_BROWSE);
    open = WaitForFileDialog();
    ASSERT_NE(nullptr, open);
    EXPECT_EQ(nullptr, FindThreadWindow(UiThread(), "For successful restore..."));
    Dismiss(open, IDCANCEL);
    EXPECT_TRUE(TreeTexts().empty());
}

TEST_F(RestorePage, WarningWithoutTheTickStoresNothing) {
    StartOnRestorePage(false);
    Press(Page(1), IDC_RESTORE_BROWSE);
    Dismiss(ExpectBox("For successful restore..."), IDOK);
    HWND open = WaitForFileDialog();
    ASSERT_NE(nullptr, open);
    Dismiss(open, IDCANCEL);
    DWORD off = 0;
    EXPECT_FALSE(ORRegistryUtil::ReadDwordFromRegistry(HKEY_CURRENT_USER, kProductKey, "Restore Warning Off", off));
    Press(Page(1), IDC_RESTORE_BROWSE);
    Dismiss(ExpectBox("For successful restore..."), IDOK);
    Dismiss(WaitForFileDialog(), IDCANCEL);
}

TEST_F(RestorePage, AcceptedArchivesAddTheirApplicationsTickedSelectedAndSorted) {
    StartOnRestorePage();
    std::string express = WriteArchive(data / "first", "Outlook Express.vlb", "Main Identity\nTravel\n");
    std::string outlook = WriteArchive(data / "first", "Outlook.vlb", "Office Profile\n");
    ClearCalls();
    Choose(express);
    ASSERT_EQ(std::vector<std::string>{"Outlook Express"}, TreeTexts());
    HTREEITEM item = TreeRootItems(tree)[0];
    EXPECT_TRUE(TreeItemTicked(tree, item));
    EXPECT_EQ(item, TreeSelection(tree));
    EXPECT_EQ(3, TreeItemImage(tree, item));
    EXPECT_EQ(express, WindowText(RestoreControl(IDC_PATH_EDIT)));
    ASSERT_EQ(2, ListCount(profiles));
    EXPECT_EQ("Main Identity", ListText(profiles, 0, 1));
    EXPECT_EQ("Travel", ListText(profiles, 1, 1));
    EXPECT_EQ(std::vector<std::string>{"Outlook Express:InitRestore(" + express + ")"}, CallsOf("InitRestore"));
    EXPECT_FALSE(CallsOf("Enable").empty());

    Choose(outlook);
    EXPECT_EQ((std::vector<std::string>{"Outlook", "Outlook Express"}), TreeTexts());
    EXPECT_EQ("Outlook", TreeItemText(tree, TreeSelection(tree)));
    ASSERT_EQ(1, ListCount(profiles));
    EXPECT_EQ("Office Profile", ListText(profiles, 0, 1));
    EXPECT_EQ(outlook, WindowText(RestoreControl(IDC_PATH_EDIT)));

    // Selecting an application shows its own archive again.
    ClickAt(tree, TreeTextPoint(tree, TreeRootItems(tree)[1]));
    EXPECT_TRUE(WaitUntil([&] { return WindowText(RestoreControl(IDC_PATH_EDIT)) == express; }));
    EXPECT_EQ(2, ListCount(profiles));

    // A second archive of the same name, from elsewhere, does nothing at all.
    std::string again = WriteArchive(data / "second", "Outlook Express.vlb", "Other\n");
    ClearCalls();
    Choose(again);
    EXPECT_TRUE(CallsOf("InitRestore").empty());
    EXPECT_EQ((std::vector<std::string>{"Outlook", "Outlook Express"}), TreeTexts());
    EXPECT_EQ(express, WindowText(RestoreControl(IDC_PATH_EDIT)));
}

TEST_F(RestorePage, RefusedArchiveIsReportedWithNameAndPath) {
    StartOnRestorePage();
    SetEnv("VELMORA_TEST_Outlook Express_InitRestore", "0");
    std::string express = WriteArchive(data.Path(), "Outlook Express.vlb", "Main Identity\n");
    Choose(express);
    HWND box = ExpectBox("Error");
    EXPECT_EQ("Failed to initialize Outlook Express for restoration with " + express, MessageBoxText(box));
    Dismiss(box);
    EXPECT_TRUE(TreeTexts().empty());
    EXPECT_EQ("", WindowText(RestoreControl(IDC_PATH_EDIT)));
}

TEST_F(RestorePage, ArchiveOfNoKnownApplicationIsAcceptedWithoutTreeItem) {
    StartOnRestorePage();
    std::string other = WriteArchive(data.Path(), "Thunder.vlb", "Someone\n");
    ClearCalls();
    Choose(other);
    EXPECT_EQ(nullptr, FindThreadWindow(UiThread(), "Error"));
    EXPECT_TRUE(CallsOf("InitRestore").empty());
    EXPECT_TRUE(TreeTexts().empty());
    EXPECT_EQ(other, WindowText(RestoreControl(IDC_PATH_EDIT)));
}

TEST_F(RestorePage, RunRestoreNeedsAnArchiveAndReportsTheOutcome) {
    StartOnRestorePage();
    Press(Page(1), IDC_RESTORE_RUN);
    HWND box = ExpectBox("Error");
    EXPECT_EQ("Please select media folder", MessageBoxText(box));
    Dismiss(box);
    EXPECT_TRUE(CallsOf("Restore").empty());

    Choose(WriteArchive(data.Path(), "Outlook Express.vlb", "Main Identity\n"));
    ClearCalls();
    Press(Page(1), IDC_RESTORE_RUN);
    box = ExpectBox("Restore completed");
    EXPECT_EQ("Restore operation has completed.", MessageBoxText(box));
    Dismiss(box);
    EXPECT_EQ(std::vector<std::string>{"Outlook Express:Restore main=disabled"}, CallsOf("Restore"));
    EXPECT_TRUE(IsWindowEnabled(Main()));

    SetEnv("VELMORA_TEST_Outlook Express_Restore", "0");
    Press(Page(1), IDC_RESTORE_RUN);
    box = ExpectBox("Error");
    EXPECT_EQ("Restore operation has failed.", MessageBoxText(box));
    Dismiss(box);
}

// The Restore page driven through its real controls: the restore warning, the
// file dialog, archives accepted and refused, and Run Restore. The test
// plug-ins read an archive as one identity name per line.
#include "DesktopFixture.h"

#include <shlobj.h>

#include "Handles.h"

namespace {
struct RestorePage : DesktopFixture {
    HWND tree = nullptr, profiles = nullptr;
    void SetUp() override {
        DesktopFixture::SetUp();
        AddMailPlugIns();
        Start();
        ShowRestorePage();
        tree = GetDlgItem(Page(1), IDC_RESTORE_TREE);
        profiles = GetDlgItem(Page(1), IDC_RESTORE_PROFILES);
    }
    // The file dialog, told by its file name box (0x47C, or 0x480 in its older form).
    static HWND FileName(HWND dialog) {
        return GetDlgItem(dialog, 0x47C) ? GetDlgItem(dialog, 0x47C) : GetDlgItem(dialog, 0x480);
    }
    static bool IsFileDialog(HWND dialog) { return FileName(dialog) != nullptr; }
    // Writes an archive naming these identities and opens it with "...".
    std::string Choose(const std::string& folder, const std::string& name, const std::string& identities) {
        std::string path = (data / folder) + "\\" + name;
        EXPECT_TRUE(MakeDirs(data / folder) && WriteFileBytes(path, identities));
        Press(Page(1), IDC_RESTORE_BROWSE);
        HWND open = WaitForDialog(IsFileDialog);
        SendMessageA(FileName(open), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
        Dismiss(open);
        Settle(Page(1));
        return path;
    }
    std::string Shown() { return WindowText(GetDlgItem(Page(1), IDC_PATH_EDIT)); }
};
}  // namespace

TEST_F(RestorePage, WarningComesFirstClosesOnlyWithOkAndCanBeTurnedOff) {
    for (bool tick : {false, true}) {
        Press(Page(1), IDC_RESTORE_BROWSE);
        HWND warning = WaitForThreadWindow(threadId, "For successful restore...");
        ASSERT_NE(nullptr, warning);
        // Escape, the close box and Cancel are no ways out.
        PostMessageA(warning, WM_SYSCOMMAND, SC_CLOSE, 0);
        PostMessageA(warning, WM_KEYDOWN, VK_ESCAPE, 0);
        Press(warning, IDCANCEL);
        Settle(warning, 500);
        EXPECT_TRUE(IsWindowVisible(warning));
        EXPECT_EQ(nullptr, WaitForDialog(IsFileDialog, 0)) << "file dialog before the warning closed";
        SendMessageA(GetDlgItem(warning, IDC_WARNING_OFF), BM_SETCHECK, tick ? BST_CHECKED : BST_UNCHECKED, 0);
        Dismiss(warning);
        Dismiss(WaitForDialog(IsFileDialog), IDCANCEL);
        DWORD off = 0;
        EXPECT_EQ(tick, ORRegistryUtil::ReadDwordFromRegistry(HKEY_CURRENT_USER, kProductKey, "Restore Warning Off", off) &&
                            off == 1);
    }
    // From now on "..." goes straight to the file dialog.
    Press(Page(1), IDC_RESTORE_BROWSE);
    Dismiss(WaitForDialog(IsFileDialog), IDCANCEL);
    EXPECT_EQ(nullptr, WaitForThreadWindow(threadId, "For successful restore...", 0));
    EXPECT_EQ("", Texts(tree));
}

TEST_F(RestorePage, ArchivesAreRefusedOrAcceptedAndRestoredWithHonestReports) {
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, kProductKey, "Restore Warning Off", 1));
    Press(Page(1), IDC_RESTORE_RUN);
    EXPECT_EQ("Please select media folder", Answer("Error"));

    // A refused archive is reported with its application and path, and not shown.
    SetEnv("VELMORA_TEST_Outlook Express_InitRestore", "0");
    std::string refused = Choose("refused", "Outlook Express.vlb", "Main Identity\n");
    EXPECT_EQ("Failed to initialize Outlook Express for restoration with " + refused, Answer("Error"));
    EXPECT_EQ("", Texts(tree) + Shown());
    SetEnvironmentVariableA("VELMORA_TEST_Outlook Express_InitRestore", nullptr);

    // Accepted archives add their applications ticked, selected and sorted.
    std::string express = Choose("first", "Outlook Express.vlb", "Main Identity\nTravel\n");
    EXPECT_EQ("Outlook Express+, ", Texts(tree));
    EXPECT_EQ("Main Identity, Travel, ", Texts(profiles));
    EXPECT_EQ(express, Shown());
    std::string outlook = Choose("first", "Outlook.vlb", "Office Profile\n");
    EXPECT_EQ("Outlook+, Outlook Express+, ", Texts(tree));
    EXPECT_EQ("Outlook+", TreeItemText(tree, TreeView_GetSelection(tree)));
    EXPECT_EQ("Office Profile, ", Texts(profiles));
    EXPECT_EQ(outlook, Shown());
    // Selecting an application shows its own archive again.
    ClickAt(tree, TreePoint(tree, TreeRootItems(tree)[1], false));
    EXPECT_TRUE(WaitUntil([&] { return Shown() == express && Texts(profiles) == "Main Identity, Travel, "; }));

    // A second archive of the same application, and one of no known
    // application, make no tree item.
    ClearCalls();
    Choose("second", "Outlook Express.vlb", "Other\n");
    EXPECT_EQ(express, Shown());
    std::string other = Choose("second", "Thunder.vlb", "Someone\n");
    EXPECT_EQ(other, Shown());
    EXPECT_EQ("Outlook+, Outlook Express+, ", Texts(tree));
    EXPECT_TRUE(CallsOf({"InitRestore"}).empty());

    Press(Page(1), IDC_RESTORE_RUN);
    EXPECT_EQ("Restore operation has completed.", Answer("Restore completed"));
    EXPECT_EQ((std::vector<std::string>{"Outlook:Restore main=disabled", "Outlook Express:Restore main=disabled"}),
              CallsOf({"Restore"}));
    EXPECT_TRUE(IsWindowEnabled(Main()));
    SetEnv("VELMORA_TEST_Outlook_Restore", "0");
    Press(Page(1), IDC_RESTORE_RUN);
    EXPECT_EQ("Restore operation has failed.", Answer("Error"));
}

// An archive kept beside an older backup as "<name> (incomplete).vlb" opens in
// its mail client's plug-in, and no other control can be reached while the
// plug-in reads it (its own message boxes have no owner).
TEST_F(RestorePage, IncompleteArchiveOpensInItsPlugInWithTheMainWindowDisabled) {
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, kProductKey, "Restore Warning Off", 1));
    std::string path = Choose("kept", "Outlook Express (incomplete).vlb", "Main Identity\n");
    EXPECT_EQ((std::vector<std::string>{"Outlook Express:InitRestore(" + path + ") main=disabled"}),
              CallsOf({"InitRestore"}));
    EXPECT_EQ("Outlook Express+, ", Texts(tree));
    EXPECT_EQ("Main Identity, ", Texts(profiles));
    EXPECT_EQ(path, Shown());
    EXPECT_TRUE(IsWindowEnabled(Main()));
}

namespace {
std::string UndoFolder() {
    char appData[MAX_PATH] = {};
    SHGetSpecialFolderPathA(nullptr, appData, CSIDL_APPDATA, TRUE);
    return std::string(appData) + "\\Velmora\\Undo";
}

// A page that starts with no undo archive.
struct UndoOnRestorePage : RestorePage {
    void SetUp() override {
        RemoveTree(UndoFolder());
        RestorePage::SetUp();
    }
    void TearDown() override {
        RestorePage::TearDown();
        RemoveTree(UndoFolder());
    }
    // An undo archive (the test plug-ins read identity names) written daysAgo.
    std::string WriteUndo(const std::string& name, const std::string& identities, int daysAgo) {
        const std::string path = UndoFolder() + "\\" + name;
        EXPECT_TRUE(MakeDirs(UndoFolder()) && WriteFileBytes(path, identities));
        SYSTEMTIME now;
        GetSystemTime(&now);
        FILETIME time;
        SystemTimeToFileTime(&now, &time);
        ULARGE_INTEGER value = {{time.dwLowDateTime, time.dwHighDateTime}};
        value.QuadPart -= static_cast<ULONGLONG>(daysAgo) * 864000000000ull;
        time = {value.LowPart, value.HighPart};
        CHandle file(CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &time));
        return path;
    }
};
}  // namespace

// "Undo Last Restore" restores the newest undo archive of a known mail client
// through its own plug-in, removes it once it worked, keeps it when it failed,
// and leaves the archive chosen on the page in place.
TEST_F(UndoOnRestorePage, UndoRestoresTheNewestUndoArchiveAndRemovesIt) {
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, kProductKey, "Restore Warning Off", 1));
    HWND undo = GetDlgItem(Page(1), IDC_RESTORE_UNDO);
    EXPECT_EQ("Undo Last Restore", WindowText(undo));
    EXPECT_FALSE(IsWindowEnabled(undo));

    std::string express = Choose("chosen", "Outlook Express.vlb", "Main Identity\nTravel\n");
    const std::string older = WriteUndo("Outlook Express 2026-01-01 10-00-00.vlb", "Main Identity\n", 3);
    const std::string newer = WriteUndo("Outlook 2026-01-02 10-00-00 (2).vlb", "Office Profile\n", 2);
    WriteUndo("Thunder 2026-01-03 10-00-00.vlb", "Someone\n", 1);
    WriteUndo("Outlook.vlb", "Office Profile\n", 0);
    Press(Page(1), IDC_RESTORE_RUN);
    EXPECT_EQ("Restore operation has completed.", Answer("Restore completed"));
    EXPECT_TRUE(IsWindowEnabled(undo));

    ClearCalls();
    Press(Page(1), IDC_RESTORE_UNDO);
    EXPECT_EQ("Restore operation has completed.", Answer("Restore completed"));
    EXPECT_EQ((std::vector<std::string>{"Outlook:InitRestore(" + newer + ") main=disabled", "Outlook:Restore main=disabled"}),
              CallsOf({"InitRestore", "Restore"}));
    EXPECT_FALSE(FileExistsAt(newer));
    EXPECT_TRUE(IsWindowEnabled(undo));
    EXPECT_EQ("Main Identity, Travel, ", Texts(profiles));

    // A failed undo keeps its archive; the page's own archive is opened again.
    SetEnv("VELMORA_TEST_Outlook Express_Restore", "0");
    ClearCalls();
    Press(Page(1), IDC_RESTORE_UNDO);
    EXPECT_EQ("Restore operation has failed.", Answer("Error"));
    EXPECT_TRUE(FileExistsAt(older));
    EXPECT_EQ((std::vector<std::string>{"Outlook Express:InitRestore(" + older + ") main=disabled",
                                        "Outlook Express:Restore main=disabled",
                                        "Outlook Express:InitRestore(" + express + ") main=enabled"}),
              CallsOf({"InitRestore", "Restore"}));
    EXPECT_EQ("Main Identity, Travel, ", Texts(profiles));
    SetEnvironmentVariableA("VELMORA_TEST_Outlook Express_Restore", nullptr);

    Press(Page(1), IDC_RESTORE_UNDO);
    EXPECT_EQ("Restore operation has completed.", Answer("Restore completed"));
    EXPECT_FALSE(FileExistsAt(older));
    EXPECT_FALSE(IsWindowEnabled(undo));
}

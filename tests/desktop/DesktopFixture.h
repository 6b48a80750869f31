// A desktop program of its own for each UI test: private registry (both
// hives), a home directory with the chosen plug-ins in "EnginePlugins", and
// the main dialog running on a thread of the test process. The test plug-ins
// record their calls in "calls.txt" of the home directory.
#pragma once
#include <gtest/gtest.h>

#include "ORRegistryUtil.h"
#include "ResourceModule.h"
#include "TestSupport.h"
#include "UiDriver.h"
#include "VelmoraApp.h"
#include "VelmoraDlg.h"
#include "resource.h"

using namespace testsupport;
using namespace uidriver;

class DesktopFixture : public ::testing::Test {
protected:
    ScratchRegistry registry{true};
    ScratchFolder home, data;
    CVelmoraApp app;
    std::string calls = home / "calls.txt";
    HANDLE thread = nullptr;
    DWORD threadId = 0;
    std::vector<std::string> env;

    void SetUp() override {
        CVelmoraApp::EnableControls();
        ASSERT_TRUE(MakeDirs(home / "EnginePlugins"));
        SetEnv("VELMORA_TEST_CALLS", calls.c_str());
    }
    void TearDown() override {
        // Whatever the test left open goes first, the main window last.
        for (int round = 0; thread && round < 10 && WaitForSingleObject(thread, round ? 1000 : 0) == WAIT_TIMEOUT; ++round)
            for (HWND dialog : ThreadDialogs(threadId))
                Press(dialog, IDOK), Press(dialog, dialog == Main() ? IDOK : IDCANCEL);
        if (thread) EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000)) << "the program did not end";
        if (thread) CloseHandle(thread);
        SetResourceModule(nullptr);
        for (const std::string& name : env) SetEnvironmentVariableA(name.c_str(), nullptr);
    }
    // For this test only.
    void SetEnv(const std::string& name, const char* value) {
        SetEnvironmentVariableA(name.c_str(), value);
        env.push_back(name);
    }
    // The test plug-ins "Outlook" and "Outlook Express" with identities, the
    // Office key that lets "Outlook" be offered, and the home directory.
    void AddMailPlugIns(bool setHome = true) {
        for (const char* target : {"TestPlugInOutlookExpressIds", "TestPlugInOutlookIds"})
            ASSERT_TRUE(CopyFileA((WinePath(VELMORA_TEST_PLUGIN_DIR) + "\\" + target + ".dll").c_str(),
                                  (home / "EnginePlugins\\" + target + ".dll").c_str(), FALSE));
        ASSERT_TRUE(SetString(HKEY_CURRENT_USER, "Software\\Microsoft\\Office\\11.0", "Marker", "1"));
        if (setHome) SetHome();
    }
    void SetHome() { ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kProductKey, "Velmora Home", home.Path())); }

    static DWORD WINAPI UiThreadProc(void* fixture) { return static_cast<DesktopFixture*>(fixture)->app.RunMainDialog(); }
    // Waits for the main window unless something (a warning box) comes first.
    void Start(bool waitForMainWindow = true) {
        ASSERT_NE(nullptr, thread = CreateThread(nullptr, 0, UiThreadProc, this, 0, &threadId));
        if (waitForMainWindow) ASSERT_TRUE(WaitForMainWindow()) << "the main window did not open";
    }
    bool WaitForMainWindow() { return WaitUntil([&] { return Main() && IsWindowVisible(Main()); }, 20000); }
    // As the Close button does; waits for the program's thread to end.
    void Close() {
        Press(Main(), IDOK);
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
        CloseHandle(thread);
        thread = nullptr;
    }
    HWND Main() const { return app.GetMainWnd() ? app.GetMainWnd()->GetHwnd() : nullptr; }
    HWND Page(int index) const { return app.GetMainWnd()->GetTabCtrl().GetPage(index)->GetHwnd(); }
    void ShowRestorePage() {
        HWND tab = GetDlgItem(Main(), IDC_MAIN_TAB);
        RECT rect = {};
        TabCtrl_GetItemRect(tab, 1, &rect);
        ClickAt(tab, {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2});
        ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(Page(1)) && !IsWindowVisible(Page(0)); }));
    }
    // The first other dialog of the program's thread that the predicate accepts.
    HWND WaitForDialog(bool (*accept)(HWND) = nullptr, int timeoutMs = 10000) {
        HWND found = nullptr;
        WaitUntil([&] {
            for (HWND dialog : ThreadDialogs(threadId))
                if (!found && dialog != Main() && (!accept || accept(dialog))) found = dialog;
            return found != nullptr;
        }, timeoutMs);
        return found;
    }
    // Presses the button and waits until the window is gone.
    void Dismiss(HWND box, int button = IDOK) {
        if (box) Press(box, button);
        EXPECT_TRUE(box && WaitUntil([&] { return !IsWindow(box); })) << "the window stayed open";
    }
    // The text of the message box of that caption, which is then dismissed.
    std::string Answer(const std::string& caption) {
        HWND box = WaitForThreadWindow(threadId, caption);
        std::string text = box ? MessageBoxText(box) : "(no box titled " + caption + ")";
        Dismiss(box);
        return text;
    }
    // The recorded calls ("Name:Export(...)") of the exports whose names start so.
    std::vector<std::string> CallsOf(const std::vector<std::string>& prefixes) {
        std::vector<std::string> found;
        for (const std::string& line : ReadLines(calls))
            for (const std::string& prefix : prefixes)
                if (line.compare(line.find(':') + 1, prefix.size(), prefix) == 0) found.push_back(line);
        return found;
    }
    void ClearCalls() { DeleteFileA(calls.c_str()); }
};

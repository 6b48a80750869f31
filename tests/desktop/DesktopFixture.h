// A desktop program of its own for each UI test: private registry (both
// hives), a home directory with the chosen plug-ins in "EnginePlugins", and
// the main dialog running on a thread of the test process.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BackupTab.h"
#include "RestoreTab.h"
#include "TestSupport.h"
#include "UiDriver.h"
#include "VelmoraApp.h"
#include "VelmoraDlg.h"

class DesktopFixture : public ::testing::Test {
protected:
    testsupport::ScratchRegistry registry{true};
    testsupport::ScratchFolder home;
    testsupport::ScratchFolder data;
    CVelmoraApp app;
    std::string calls = home / "calls.txt";

    void SetUp() override;
    void TearDown() override;

    // Copies a built test plug-in into the home's plug-in folder.
    void AddPlugIn(const char* target, const std::string& fileName);
    // The two test plug-ins with identities, named "Outlook" and "Outlook
    // Express", and the Office key that lets "Outlook" be offered.
    void AddMailPlugIns();
    void SetHome();
    // Sets an environment variable for this test only.
    void SetEnv(const std::string& name, const char* value);

    // Runs the main dialog on its own thread; waits for the window unless
    // something (a warning box) is expected first.
    void Start(bool waitForMainWindow = true);
    bool WaitForMainWindow();
    // Closes the main dialog the way the Close button does and waits for the
    // thread to end.
    void Close();
    DWORD UiThread() const { return m_threadId; }

    HWND Main() const;
    HWND Page(int index) const;
    HWND BackupControl(int id) const { return GetDlgItem(Page(0), id); }
    HWND RestoreControl(int id) const { return GetDlgItem(Page(1), id); }
    void ShowRestorePage();

    // The message box of that caption; fails the test when none appears.
    HWND ExpectBox(const std::string& caption);
    // Presses the button and waits until the window is gone.
    void Dismiss(HWND box, int button = IDOK);

    std::vector<std::string> Calls();
    // Calls of one export, as "Name:Export(...)".
    std::vector<std::string> CallsOf(const std::string& exportName);
    void ClearCalls() { DeleteFileA(calls.c_str()); }

private:
    static DWORD WINAPI UiThreadProc(void* parameter);
    HANDLE m_thread = nullptr;
    DWORD m_threadId = 0;
    std::vector<std::string> m_env;
};

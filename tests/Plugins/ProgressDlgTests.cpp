#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

#include "ProgressDlg.h"
#include "TestSupport.h"

namespace {
const char kTitle[] = "Please Wait.. (progress test)";

// Says "working" and sends progress until termination is requested; then,
// unless it returns at once, goes on (its progress now unsent) until finish.
struct WorkerRun {
    bool returnAtOnce = false;
    HANDLE finish = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    volatile bool sawTermination = false, ended = false;
    ~WorkerRun() { CloseHandle(finish); }
};
int BusyWorker(WorkerContext* context) {
    WorkerRun* run = static_cast<WorkerRun*>(context->context);
    SetProgressStatus(context, "working");
    while (!IsTerminationRequested(context) && WaitForSingleObject(run->finish, 5) == WAIT_TIMEOUT)
        SetProgressPosition(context, 10);
    run->sawTermination = IsTerminationRequested(context);
    while (!run->returnAtOnce && WaitForSingleObject(run->finish, 10) == WAIT_TIMEOUT)
        ProgressStep(context, "late");
    run->ended = true;
    return 1;
}

bool WaitForStatus(HWND dialog, const std::string& text) {
    char shown[256] = {};
    for (int i = 0; i < 500 && IsWindow(dialog); ++i, Sleep(10))
        if (GetDlgItemTextA(dialog, IDC_PROGRESS_STATUS, shown, sizeof(shown)) && text == shown) return true;
    return false;
}
bool CancelGreyed(HWND dialog) {
    return !IsWindowEnabled(GetDlgItem(dialog, IDCANCEL)) &&
           (GetMenuState(GetSystemMenu(dialog, FALSE), SC_CLOSE, MF_BYCOMMAND) & MF_GRAYED) != 0;
}
// The Cancel button, the Escape key, the Close box.
void PressCancel(HWND dialog, int way) {
    if (way == 0) PostMessageA(dialog, WM_COMMAND, IDCANCEL, reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
    if (way == 1) PostMessageA(dialog, WM_KEYDOWN, VK_ESCAPE, 1);
    if (way == 2) PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
}

// Runs the dialog with the English Wrenfold texts while a user thread acts on
// it once the worker says "working".
INT_PTR RunDialog(CProgressDlg& dialog, const std::function<void(HWND)>& user = nullptr) {
    static HMODULE resources = LoadLibraryA((testsupport::WinePath(VELMORA_HOME_DIR) + "\\VLOEPluginLocaleSatellite_ENU.dll").c_str());
    EXPECT_NE(nullptr, resources);
    if (!user) return dialog.RunModal(resources);
    std::thread thread([&] {
        HWND window = nullptr;
        for (int i = 0; i < 500 && !window; ++i, Sleep(10)) window = FindWindowA("#32770", kTitle);
        ASSERT_TRUE(window && WaitForStatus(window, "working"));
        user(window);
    });
    INT_PTR result = dialog.RunModal(resources);
    thread.join();
    return result;
}
}  // namespace

TEST(ProgressDialog, OnlyAWorkersOneIsSuccess) {
    for (int result : {1, 0, 7}) {
        CProgressDlg dialog(nullptr, [](WorkerContext* c) { return *static_cast<int*>(c->context); }, &result, kTitle, true);
        EXPECT_EQ(result == 1 ? kProgressSucceeded : kProgressFailed, RunDialog(dialog)) << result;
    }
}

// Cancel, Escape and Close tell the worker to stop, grey Cancel and end the
// dialog; releasing the dialog waits for a worker still busy.
TEST(ProgressDialog, CancelStopsTheWorkAndTheDialogWaitsForIt) {
    for (int way : {0, 1, 2}) {
        SCOPED_TRACE(way);
        WorkerRun run;
        bool greyed = false;
        std::thread release;
        {
            CProgressDlg dialog(nullptr, BusyWorker, &run, kTitle, true);
            EXPECT_EQ(kProgressCancelled, RunDialog(dialog, [&](HWND window) {
                PressCancel(window, way);
                EXPECT_TRUE(WaitForStatus(window, "Termination Complete ..Shutting Down !!"));
                greyed = CancelGreyed(window);
            }));
            EXPECT_TRUE(run.sawTermination);
            EXPECT_FALSE(run.ended);
            release = std::thread([&] { Sleep(1000); SetEvent(run.finish); });
        }
        EXPECT_TRUE(run.ended);
        release.join();
        EXPECT_TRUE(greyed);
    }
}

// The dialog stays open until someone else ends it: nothing from the worker.
TEST(ProgressDialog, AfterTerminationTheWorkerPostsNoEndMessage) {
    WorkerRun run;
    run.returnAtOnce = true;
    CProgressDlg dialog(nullptr, BusyWorker, &run, kTitle, true);
    bool openAfterWorker = false;
    EXPECT_EQ(7, RunDialog(dialog, [&](HWND window) {
        dialog.GetContext().terminationRequested = true;   // as a cancel does
        for (int i = 0; i < 500 && !(run.ended && !dialog.GetContext().running); ++i) Sleep(10);
        Sleep(300);
        openAfterWorker = IsWindow(window) != FALSE;
        PostMessageA(window, WM_PROGRESS_END, 7, 0);
    }));
    EXPECT_TRUE(openAfterWorker);
}

TEST(ProgressDialog, WithoutCancelTheUserCannotStopIt) {
    WorkerRun run;
    CProgressDlg dialog(nullptr, BusyWorker, &run, kTitle, false);
    bool greyed = false;
    EXPECT_EQ(kProgressSucceeded, RunDialog(dialog, [&](HWND window) {
        greyed = CancelGreyed(window);
        for (int way : {0, 1, 2}) PressCancel(window, way);
        Sleep(300);
        EXPECT_TRUE(WaitForStatus(window, "working"));   // no termination began
        SetEvent(run.finish);
    }));
    EXPECT_TRUE(greyed);
    EXPECT_FALSE(run.sawTermination);
}

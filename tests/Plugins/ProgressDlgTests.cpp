#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

#include "Log.h"
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
// Progress messages that reach the dialog's thread (the dialog ignores late
// ones itself, so only a hook shows whether a worker still sends them).
std::vector<std::string> g_statuses;
LRESULT CALLBACK RecordStatus(int code, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && message->message == WM_PROGRESS_SET_STATUS)
        g_statuses.push_back(reinterpret_cast<const char*>(message->lParam));
    if (code == HC_ACTION && message->message == WM_PROGRESS_STEP)
        g_statuses.push_back(message->lParam ? reinterpret_cast<const char*>(message->lParam) : "(step)");
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// What the Cancel button, the Escape key and the Close box post.
const UINT kCancelWays[][2] = {{WM_COMMAND, IDCANCEL}, {WM_KEYDOWN, VK_ESCAPE}, {WM_SYSCOMMAND, SC_CLOSE}};

// Runs the dialog while a user thread acts on it once the worker says "working".
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

// Cancel, Escape and Close stop the worker and end the dialog, whose release waits for it.
TEST(ProgressDialog, CancelStopsTheWorkAndTheDialogWaitsForIt) {
    testsupport::ScratchFolder folder;
    const std::string log = folder / "Progress.log";
    for (const UINT* way : kCancelWays) {
        SCOPED_TRACE(way[0]);
        WorkerRun run;
        std::thread release;
        g_statuses.clear();
        HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, RecordStatus, nullptr, GetCurrentThreadId());
        ASSERT_NE(nullptr, hook);
        {
            CProgressDlg dialog(nullptr, BusyWorker, &run, kTitle, true);
            EXPECT_EQ(kProgressCancelled, RunDialog(dialog, [&](HWND window) {
                PostMessageA(window, way[0], way[1], 0);
                EXPECT_TRUE(WaitForStatus(window, "Termination Complete ..Shutting Down !!"));
                EXPECT_TRUE(CancelGreyed(window));
                Sleep(200);   // the worker steps on meanwhile, unheard
            }));
            UnhookWindowsHookEx(hook);
            EXPECT_EQ(std::vector<std::string>{"working"}, g_statuses);
            EXPECT_TRUE(run.sawTermination);
            EXPECT_FALSE(run.ended);
            // Once a worker that takes long to stop, and the wait for it is logged.
            const DWORD late = way == kCancelWays[0] ? 3500 : 1000;
            release = std::thread([&run, late] { Sleep(late); SetEvent(run.finish); });
            ASSERT_TRUE(g_Log.OpenLogFile(log.c_str(), true));
            g_Log.SetLogLevel(1);
        }
        g_Log.Close();
        EXPECT_TRUE(run.ended);
        release.join();
        bool logged = false;
        for (const std::string& line : testsupport::ReadLines(log))
            logged |= line.find("has not stopped 3 seconds") != std::string::npos;
        EXPECT_EQ(way == kCancelWays[0], logged);
    }
}

// The dialog stays open until someone else ends it: nothing from the worker.
TEST(ProgressDialog, AfterTerminationTheWorkerPostsNoEndMessage) {
    WorkerRun run{true};
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
    EXPECT_EQ(kProgressSucceeded, RunDialog(dialog, [&](HWND window) {
        EXPECT_TRUE(CancelGreyed(window));
        for (const UINT* way : kCancelWays) PostMessageA(window, way[0], way[1], 0);
        Sleep(300);
        EXPECT_TRUE(WaitForStatus(window, "working"));   // no termination began
        SetEvent(run.finish);
    }));
    EXPECT_FALSE(run.sawTermination);
}

// Steps of one status cross to the dialog's thread together, yet the bar
// counts every one of them, and a new status text is shown at once.
TEST(ProgressDialog, StepsAreSentTogetherAndCountedWhole) {
    struct Seen {
        int position = -1;
        char status[64] = {};
    } seen;
    static Seen* current;
    current = &seen;
    WorkerFunction stepper = [](WorkerContext* context) {
        SendMessageA(context->dialog, WM_PROGRESS_SET_RANGE, 1000, 0);
        SetProgressPosition(context, 0);
        for (int i = 0; i < 300; ++i) ProgressStep(context, "file");
        ProgressStep(context, "last file");
        // What the bar and the text show now, read on the dialog's thread.
        current->position = static_cast<int>(SendDlgItemMessageA(context->dialog, IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0));
        GetDlgItemTextA(context->dialog, IDC_PROGRESS_STATUS, current->status, sizeof(current->status));
        return 1;
    };
    g_statuses.clear();
    HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, RecordStatus, nullptr, GetCurrentThreadId());
    ASSERT_NE(nullptr, hook);
    CProgressDlg dialog(nullptr, stepper, nullptr, kTitle, true);
    EXPECT_EQ(kProgressSucceeded, RunDialog(dialog));
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(301, seen.position);
    EXPECT_STREQ("last file", seen.status);
    // 301 steps in far fewer messages: the first, the ones a tenth of a
    // second apart, and the new text.
    EXPECT_LT(g_statuses.size(), 100u);
    ASSERT_FALSE(g_statuses.empty());
    EXPECT_EQ("file", g_statuses.front());
    EXPECT_EQ("last file", g_statuses.back());
}

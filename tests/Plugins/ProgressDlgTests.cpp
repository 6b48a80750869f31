#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "ProgressDlg.h"
#include "TestSupport.h"

using namespace testsupport;

namespace {
const char kTitle[] = "Please Wait.. (progress test)";

// What the worker of a test does and saw.
struct WorkerRun {
    int result = 1;
    HANDLE finish = CreateEventA(nullptr, TRUE, FALSE, nullptr);   // lets the worker return
    bool returnOnTermination = false;  // else keep sending until finish
    volatile bool ended = false;
    volatile int calls = 0;
    std::string caption, initialStatus;
    int initialPosition = -1;
    std::vector<int> positions;
    ~WorkerRun() { CloseHandle(finish); }
};

std::string StatusOf(HWND dialog) {
    char text[256] = {};
    GetDlgItemTextA(dialog, IDC_PROGRESS_STATUS, text, sizeof(text));
    return text;
}

int Position(HWND dialog) { return static_cast<int>(SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0)); }

// Sends progress until the user cancels, then goes on trying to send
// messages that must never reach the dialog, until told to finish.
int BusyWorker(WorkerContext* context) {
    WorkerRun* run = static_cast<WorkerRun*>(context->context);
    ++run->calls;
    char caption[256] = {};
    GetWindowTextA(context->dialog, caption, sizeof(caption));
    run->caption = caption;
    run->initialStatus = StatusOf(context->dialog);
    run->initialPosition = Position(context->dialog);
    SetProgressStatus(context, "working");
    while (!IsTerminationRequested(context) && WaitForSingleObject(run->finish, 5) == WAIT_TIMEOUT) {
        SetProgressPosition(context, 10);
    }
    if (!run->returnOnTermination) {
        while (WaitForSingleObject(run->finish, 10) == WAIT_TIMEOUT) {
            SetProgressStatus(context, "late");
            SetProgressPosition(context, 55);
            ProgressStep(context, "late");
        }
    }
    run->ended = true;
    return run->result;
}

int StepWorker(WorkerContext* context) {
    WorkerRun* run = static_cast<WorkerRun*>(context->context);
    SetProgressPosition(context, 98);
    for (int i = 0; i < 3; ++i) {
        ProgressStep(context, "step " + std::to_string(i));
        run->positions.push_back(Position(context->dialog));
    }
    run->caption = StatusOf(context->dialog);
    ProgressStep(nullptr, "nowhere");
    return 1;
}

// Messages the dialog received on this thread, as "status:<text>",
// "position:<n>", "shown:<text>" (status line set by the dialog itself).
std::vector<std::string> g_seen;
LRESULT CALLBACK RecordMessages(int code, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION) {
        if (message->message == WM_PROGRESS_SET_STATUS)
            g_seen.push_back(std::string("status:") + reinterpret_cast<const char*>(message->lParam));
        else if (message->message == WM_PROGRESS_SET_POSITION)
            g_seen.push_back("position:" + std::to_string(message->wParam));
        else if (message->message == WM_SETTEXT && GetDlgCtrlID(message->hwnd) == IDC_PROGRESS_STATUS)
            g_seen.push_back(std::string("shown:") + reinterpret_cast<const char*>(message->lParam));
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

struct ProgressFixture : ::testing::Test {
    HMODULE resources = LoadLibraryA((WinePath(VELMORA_HOME_DIR) + "\\VLOEPluginLocaleSatellite_ENU.dll").c_str());
    HHOOK hook = nullptr;
    void SetUp() override {
        ASSERT_NE(nullptr, resources);
        g_seen.clear();
        hook = SetWindowsHookExA(WH_CALLWNDPROC, RecordMessages, nullptr, GetCurrentThreadId());
        ASSERT_NE(nullptr, hook);
    }
    void TearDown() override {
        UnhookWindowsHookEx(hook);
        FreeLibrary(resources);
    }
    static HWND WaitForDialog() {
        for (int i = 0; i < 500; ++i) {
            if (HWND dialog = FindWindowA("#32770", kTitle)) return dialog;
            Sleep(10);
        }
        return nullptr;
    }
    static bool WaitForStatus(HWND dialog, const std::string& text) {
        for (int i = 0; i < 500 && IsWindow(dialog); ++i) {
            if (StatusOf(dialog) == text) return true;
            Sleep(10);
        }
        return false;
    }
    static bool Seen(const std::string& entry) {
        for (const std::string& seen : g_seen)
            if (seen == entry) return true;
        return false;
    }
};

enum CancelKind { kCancelButton, kEscapeKey, kCloseBox };
void PressCancel(HWND dialog, CancelKind kind) {
    if (kind == kCancelButton)
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
    else if (kind == kEscapeKey)
        PostMessageA(dialog, WM_KEYDOWN, VK_ESCAPE, 1);
    else
        PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
}

bool CloseGreyed(HWND dialog) {
    return (GetMenuState(GetSystemMenu(dialog, FALSE), SC_CLOSE, MF_BYCOMMAND) & MF_GRAYED) != 0;
}
}  // namespace

TEST_F(ProgressFixture, WorkerResultDecidesTheDialogResult) {
    for (int result : {1, 0, 7}) {
        WorkerRun run;
        run.result = result;
        run.returnOnTermination = true;
        SetEvent(run.finish);
        CProgressDlg dialog(nullptr, BusyWorker, &run, kTitle, true);
        EXPECT_EQ(result == 1 ? kProgressSucceeded : kProgressFailed, dialog.RunModal(resources)) << result;
        EXPECT_EQ(1, run.calls);
        EXPECT_EQ(kTitle, run.caption);
        EXPECT_EQ("", run.initialStatus);
        EXPECT_EQ(0, run.initialPosition);
    }
}

TEST_F(ProgressFixture, ProgressStepAdvancesByOneAndAFullBarStaysFull) {
    WorkerRun run;
    CProgressDlg dialog(nullptr, StepWorker, &run, kTitle, true);
    EXPECT_EQ(kProgressSucceeded, dialog.RunModal(resources));
    EXPECT_EQ((std::vector<int>{99, 100, 100}), run.positions);
    EXPECT_EQ("step 2", run.caption);
    // Position first, then status, each step.
    std::vector<std::string> expected = {"position:98", "position:99", "status:step 0", "position:100",
                                         "status:step 1", "position:101", "status:step 2"};
    std::vector<std::string> progress;
    for (const std::string& seen : g_seen)
        if (seen.compare(0, 6, "shown:") != 0) progress.push_back(seen);
    EXPECT_EQ(expected, progress);
}

TEST_F(ProgressFixture, CancelEndsTheDialogAndSilencesTheWorker) {
    for (CancelKind kind : {kCancelButton, kEscapeKey, kCloseBox}) {
        SCOPED_TRACE(kind);
        g_seen.clear();
        WorkerRun run;
        DWORD cancelledAt = 0;
        bool greyedDuringTermination = false;
        std::thread release;
        std::thread user([&] {
            HWND window = WaitForDialog();
            ASSERT_NE(nullptr, window);
            ASSERT_TRUE(WaitForStatus(window, "working"));
            cancelledAt = GetTickCount();
            PressCancel(window, kind);
            // Still terminating: the worker keeps running past both waits.
            ASSERT_TRUE(WaitForStatus(window, "Termination Complete ..Shutting Down !!"));
            greyedDuringTermination = !IsWindowEnabled(GetDlgItem(window, IDCANCEL)) && CloseGreyed(window);
        });
        {
            CProgressDlg dialog(nullptr, BusyWorker, &run, kTitle, true);
            EXPECT_EQ(kProgressCancelled, dialog.RunModal(resources));
            DWORD elapsed = GetTickCount() - cancelledAt;
            EXPECT_LT(elapsed, 5000u);   // about one second; a sanity bound only
            user.join();
            EXPECT_FALSE(run.ended);
            // The worker is still busy; releasing the dialog waits for it.
            release = std::thread([&] { Sleep(1000); SetEvent(run.finish); });
        }
        EXPECT_TRUE(run.ended);
        release.join();
        EXPECT_TRUE(greyedDuringTermination);
        EXPECT_TRUE(Seen("shown:Termination Initiated.."));
        EXPECT_TRUE(Seen("shown:Termination Complete ..Shutting Down !!"));
        EXPECT_FALSE(Seen("status:late"));
        EXPECT_FALSE(Seen("position:55"));
    }
}

TEST_F(ProgressFixture, AWorkerThatStopsAtOnceSkipsTheSecondWait) {
    WorkerRun run;
    run.returnOnTermination = true;
    std::thread user([&] {
        HWND window = WaitForDialog();
        ASSERT_NE(nullptr, window);
        ASSERT_TRUE(WaitForStatus(window, "working"));
        PressCancel(window, kCancelButton);
    });
    CProgressDlg dialog(nullptr, BusyWorker, &run, kTitle, true);
    EXPECT_EQ(kProgressCancelled, dialog.RunModal(resources));
    user.join();
    EXPECT_TRUE(run.ended);
    EXPECT_TRUE(Seen("shown:Termination Initiated.."));
    EXPECT_FALSE(Seen("shown:Termination Complete ..Shutting Down !!"));
}

TEST_F(ProgressFixture, AfterTerminationTheWorkerPostsNoEndMessage) {
    WorkerRun run;
    run.returnOnTermination = true;
    CProgressDlg dialog(nullptr, BusyWorker, &run, kTitle, true);
    bool openAfterWorker = false;
    std::thread user([&] {
        HWND window = WaitForDialog();
        ASSERT_NE(nullptr, window);
        ASSERT_TRUE(WaitForStatus(window, "working"));
        dialog.GetContext().terminationRequested = true;   // as a cancel does
        for (int i = 0; i < 500 && !(run.ended && !dialog.GetContext().running); ++i) Sleep(10);
        Sleep(300);
        openAfterWorker = IsWindow(window) != FALSE;
        PostMessageA(window, WM_PROGRESS_END, 7, 0);
    });
    EXPECT_EQ(7, dialog.RunModal(resources));
    user.join();
    EXPECT_TRUE(run.ended);
    EXPECT_TRUE(openAfterWorker);
}

TEST_F(ProgressFixture, WithoutCancelTheUserCannotStopIt) {
    WorkerRun run;
    bool cancelDisabled = false, closeGreyed = false, stillOpen = false;
    std::thread user([&] {
        HWND window = WaitForDialog();
        ASSERT_NE(nullptr, window);
        ASSERT_TRUE(WaitForStatus(window, "working"));
        cancelDisabled = !IsWindowEnabled(GetDlgItem(window, IDCANCEL));
        closeGreyed = CloseGreyed(window);
        for (CancelKind kind : {kCancelButton, kEscapeKey, kCloseBox}) PressCancel(window, kind);
        Sleep(300);
        stillOpen = IsWindow(window) && StatusOf(window) == "working";
        SetEvent(run.finish);
    });
    CProgressDlg dialog(nullptr, BusyWorker, &run, kTitle, false);
    EXPECT_EQ(kProgressSucceeded, dialog.RunModal(resources));
    user.join();
    EXPECT_TRUE(cancelDisabled);
    EXPECT_TRUE(closeGreyed);
    EXPECT_TRUE(stillOpen);
    EXPECT_FALSE(Seen("shown:Termination Initiated.."));
}

TEST_F(ProgressFixture, MissingDialogFailsWithoutStartingTheWorker) {
    WorkerRun run;
    CProgressDlg dialog(nullptr, BusyWorker, &run, kTitle, true);
    EXPECT_EQ(-1, dialog.RunModal(GetModuleHandleA(nullptr)));
    EXPECT_EQ(0, run.calls);
}

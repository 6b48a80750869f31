// CProgressDlg: the modal progress dialog of a backup or restore, and the
// worker thread it runs. The worker reaches the dialog only through the
// messages below (sent, except the posted end message), so every control
// changes on the dialog's own thread.
#pragma once
#include <windows.h>

#include <string>

struct WorkerContext;
typedef int (*WorkerFunction)(WorkerContext* context);

// Handed to the worker thread and, through the worker, to every item.
struct WorkerContext {
    HWND dialog;                         // target of every progress message
    void* context;                       // the engine (CMailPlugIn) worked on
    volatile bool running;               // true while the worker function runs
    volatile bool terminationRequested;  // set on Cancel or Close; no messages after it
    WorkerFunction worker;
    // Steps of the bar not yet shown, and when steps were last sent: a
    // message that crosses threads costs milliseconds, so a restore of
    // thousands of small files shows its steps a few times a second.
    unsigned pendingSteps;
    DWORD lastStepTick;
    char shownStatus[256];               // the status text last sent
};

// Dialog messages (WM_USER is 1024).
const UINT WM_PROGRESS_DISABLE_CANCEL = WM_USER + 1234;  // wParam 0
const UINT WM_PROGRESS_END = WM_USER + 1235;             // wParam: dialog result (posted)
const UINT WM_PROGRESS_SET_POSITION = WM_USER + 1236;    // wParam: position
const UINT WM_PROGRESS_SET_STATUS = WM_USER + 1237;      // lParam: zero-terminated text
const UINT WM_PROGRESS_SET_RANGE = WM_USER + 1238;       // wParam: upper bound (low 16 bits)
const UINT WM_PROGRESS_TERMINATE = WM_USER + 1239;
const UINT WM_PROGRESS_STEP = WM_USER + 1240;            // wParam: steps; lParam: text or null
const DWORD kProgressStepMs = 100;

// Controls of dialog 145.
const int IDC_PROGRESS_STATUS = 1026;
const int IDC_PROGRESS_BAR = 1018;

// Dialog results.
const INT_PTR kProgressSucceeded = 1;
const INT_PTR kProgressFailed = 2;
const INT_PTR kProgressCancelled = 0x10002;

class CProgressDlg {
public:
    CProgressDlg(HWND owner, WorkerFunction worker, void* context, const char* title, bool cancelAllowed);
    virtual ~CProgressDlg();   // StopWorker
    CProgressDlg(const CProgressDlg&) = delete;
    CProgressDlg& operator=(const CProgressDlg&) = delete;

    // Shows dialog 145 of the module modally and returns the dialog result:
    // 1 (worker returned 1), 2 (worker failed or could not start), 0x10002
    // (cancelled), or the system's own failure result of the dialog call.
    INT_PTR RunModal(HMODULE resources);
    // Requests termination and waits until the worker thread has ended, so the
    // engine it works on can be released safely afterwards.
    void StopWorker();

    WorkerContext& GetContext() { return m_context; }

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    static DWORD WINAPI ThreadProc(LPVOID parameter);
    INT_PTR OnTerminate(HWND dialog);

    HWND m_owner;
    bool m_cancelAllowed;
    HANDLE m_thread = nullptr;
    char m_title[256] = {};
    WorkerContext m_context = {};
};

// What workers and items use to report progress. Each sends only while the
// dialog window exists and termination is not requested; a null context does
// nothing.
bool IsTerminationRequested(const WorkerContext* context);
void SetProgressStatus(WorkerContext* context, const std::string& text);
void SetProgressPosition(WorkerContext* context, int position);
// One progress step: the bar's current position + 1, then the status text.
// Steps are sent together, at once when the status text changes and else at
// most every kProgressStepMs; a position set afterwards supersedes them.
void ProgressStep(WorkerContext* context, const std::string& status);

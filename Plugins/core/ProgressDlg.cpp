#include "ProgressDlg.h"

#include <commctrl.h>

#include <cstring>

#include "Log.h"

namespace {
const UINT kProgressDialogResource = 145;
const DWORD kTerminationWaitMs = 500;
const DWORD kStopWorkerLogMs = 3000;

// The progress bar of dialog 145 needs its window class registered before the
// dialog is created; the plug-in does it once, when it is loaded.
struct CommonControlsRegistration {
    CommonControlsRegistration() {
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
    }
} g_commonControls;

// Messages go to the dialog only while it exists and the user has not asked
// to stop; after that the worker goes on silently.
bool MaySend(const WorkerContext* context) {
    return context && !context->terminationRequested && context->dialog && IsWindow(context->dialog);
}

// Waits for a thread to end while still executing messages that other threads
// send to windows of this thread, so a worker blocked in SendMessage toward
// this thread cannot deadlock the wait.
// Waits for the thread while answering messages sent to this thread and
// repainting its windows, so they neither hang a sender nor look hung.
// True when the thread has ended.
bool WaitForThreadPumpingSent(HANDLE thread, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        DWORD remaining = timeoutMs == INFINITE ? INFINITE : (elapsed >= timeoutMs ? 0 : timeoutMs - elapsed);
        DWORD rc = MsgWaitForMultipleObjects(1, &thread, FALSE, remaining, QS_SENDMESSAGE | QS_PAINT);
        if (rc == WAIT_OBJECT_0) return true;
        if (rc != WAIT_OBJECT_0 + 1) return false;   // timed out or failed
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        // Only paint: input and posted messages wait for the thread's own loop.
        while (PeekMessageA(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE | PM_QS_PAINT))
            DispatchMessageA(&message);
    }
}

void DisableCancel(HWND dialog) {
    EnableMenuItem(GetSystemMenu(dialog, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
    EnableWindow(GetDlgItem(dialog, IDCANCEL), FALSE);
}

// Once Cancel is disabled (cancel not allowed, or termination under way) the
// user's Cancel, Escape and Close are ignored, so termination runs once.
bool CancelAvailable(HWND dialog) {
    HWND cancel = GetDlgItem(dialog, IDCANCEL);
    return cancel && IsWindowEnabled(cancel);
}

void ShowStatusNow(HWND dialog, const char* text) {
    SetDlgItemTextA(dialog, IDC_PROGRESS_STATUS, text);
    RedrawWindow(dialog, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

// A progress message that was already on its way when the user cancelled is
// dropped here, so the termination texts stay on screen.
bool Terminating(HWND dialog) {
    CProgressDlg* self = reinterpret_cast<CProgressDlg*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
    return self && self->GetContext().terminationRequested;
}
}  // namespace

CProgressDlg::CProgressDlg(HWND owner, WorkerFunction worker, void* context, const char* title,
                           bool cancelAllowed)
    : m_owner(owner), m_cancelAllowed(cancelAllowed) {
    m_context.context = context;
    m_context.worker = worker;
    if (title) lstrcpynA(m_title, title, sizeof(m_title));
}

CProgressDlg::~CProgressDlg() { StopWorker(); }

INT_PTR CProgressDlg::RunModal(HMODULE resources) {
    StopWorker();
    return DialogBoxParamA(resources, MAKEINTRESOURCEA(kProgressDialogResource), m_owner, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

void CProgressDlg::StopWorker() {
    m_context.terminationRequested = true;
    if (m_thread) {
        // The engine the worker uses may be released as soon as this returns,
        // so the wait has no limit; a long one is logged.
        if (!WaitForThreadPumpingSent(m_thread, kStopWorkerLogMs)) {
            LOG_ERROR("The worker has not stopped %u seconds after termination was requested; still waiting.",
                      static_cast<unsigned>(kStopWorkerLogMs / 1000));
            WaitForThreadPumpingSent(m_thread, INFINITE);
            LOG_ERROR("The worker has stopped.");
        }
        CloseHandle(m_thread);
        m_thread = nullptr;
    }
    m_context.running = false;
    m_context.terminationRequested = false;
    m_context.dialog = nullptr;
    m_context.pendingSteps = 0;
    m_context.lastStepTick = 0;
    m_context.shownStatus[0] = '\0';
}

DWORD WINAPI CProgressDlg::ThreadProc(LPVOID parameter) {
    WorkerContext* context = static_cast<WorkerContext*>(parameter);
    context->running = true;
    INT_PTR result = kProgressFailed;
    if (!context->terminationRequested && context->worker)
        result = context->worker(context) == 1 ? kProgressSucceeded : kProgressFailed;
    context->running = false;
    if (!context->terminationRequested) PostMessageA(context->dialog, WM_PROGRESS_END, result, 0);
    return 0;
}

INT_PTR CProgressDlg::OnTerminate(HWND dialog) {
    WorkerContext& context = m_context;
    context.terminationRequested = true;
    ShowStatusNow(dialog, "Termination Initiated..");
    SendMessageA(dialog, WM_PROGRESS_DISABLE_CANCEL, 0, 0);
    if (context.running) {
        WaitForThreadPumpingSent(m_thread, kTerminationWaitMs);
        if (context.running) {
            ShowStatusNow(dialog, "Termination Complete ..Shutting Down !!");
            if (context.running) WaitForThreadPumpingSent(m_thread, kTerminationWaitMs);
        }
    }
    EndDialog(dialog, kProgressCancelled);
    return TRUE;
}

INT_PTR CALLBACK CProgressDlg::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        CProgressDlg* self = reinterpret_cast<CProgressDlg*>(lParam);
        if (!self->m_cancelAllowed) SendMessageA(dialog, WM_PROGRESS_DISABLE_CANCEL, 0, 0);
        SetDlgItemTextA(dialog, IDC_PROGRESS_STATUS, "");
        SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_SETPOS, 0, 0);
        SetWindowTextA(dialog, self->m_title);
        SetWindowLongPtrA(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->m_context.dialog = dialog;
        DWORD threadId = 0;
        self->m_thread = CreateThread(nullptr, 0, ThreadProc, &self->m_context, 0, &threadId);
        if (!self->m_thread) EndDialog(dialog, kProgressFailed);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) != IDCANCEL) return FALSE;
        if (CancelAvailable(dialog)) SendMessageA(dialog, WM_PROGRESS_TERMINATE, 0, 0);
        return TRUE;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) != SC_CLOSE) return FALSE;
        if (CancelAvailable(dialog)) SendMessageA(dialog, WM_PROGRESS_TERMINATE, 0, 0);
        return TRUE;
    case WM_PROGRESS_DISABLE_CANCEL:
        DisableCancel(dialog);
        return TRUE;
    case WM_PROGRESS_END:
        EndDialog(dialog, static_cast<INT_PTR>(wParam));
        return TRUE;
    case WM_PROGRESS_SET_POSITION:
        if (!Terminating(dialog)) SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_SETPOS, wParam, 0);
        return TRUE;
    case WM_PROGRESS_STEP:
        if (Terminating(dialog)) return TRUE;
        SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_DELTAPOS, wParam, 0);
        if (lParam) SetDlgItemTextA(dialog, IDC_PROGRESS_STATUS, reinterpret_cast<const char*>(lParam));
        return TRUE;
    case WM_PROGRESS_SET_STATUS:
        if (!Terminating(dialog)) SetDlgItemTextA(dialog, IDC_PROGRESS_STATUS, reinterpret_cast<const char*>(lParam));
        return TRUE;
    case WM_PROGRESS_SET_RANGE:
        SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, LOWORD(wParam)));
        return TRUE;
    case WM_PROGRESS_TERMINATE: {
        CProgressDlg* self = reinterpret_cast<CProgressDlg*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
        return self ? self->OnTerminate(dialog) : TRUE;
    }
    default:
        return FALSE;
    }
}

bool IsTerminationRequested(const WorkerContext* context) {
    return context && context->terminationRequested;
}

void SetProgressStatus(WorkerContext* context, const std::string& text) {
    if (!context) return;
    lstrcpynA(context->shownStatus, text.c_str(), sizeof(context->shownStatus));
    if (MaySend(context)) SendMessageA(context->dialog, WM_PROGRESS_SET_STATUS, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void SetProgressPosition(WorkerContext* context, int position) {
    if (!context) return;
    context->pendingSteps = 0;
    if (MaySend(context)) SendMessageA(context->dialog, WM_PROGRESS_SET_POSITION, position, 0);
}

void ProgressStep(WorkerContext* context, const std::string& status) {
    if (!context) return;
    ++context->pendingSteps;
    // A text too long for the buffer compares as changed each time: it is
    // then sent with every step, as it always was.
    const bool newStatus = status.size() >= sizeof(context->shownStatus) || status != context->shownStatus;
    const DWORD now = GetTickCount();
    if (!newStatus && now - context->lastStepTick < kProgressStepMs) return;
    context->lastStepTick = now;
    const WPARAM steps = context->pendingSteps;
    context->pendingSteps = 0;
    if (newStatus) lstrcpynA(context->shownStatus, status.c_str(), sizeof(context->shownStatus));
    if (MaySend(context))
        SendMessageA(context->dialog, WM_PROGRESS_STEP, steps, newStatus ? reinterpret_cast<LPARAM>(status.c_str()) : 0);
}

#include "SplashThread.h"

#include "Handles.h"
#include "VelmoraApp.h"
#include "resource.h"

CSplashThread::CSplashThread(DWORD mainThreadId)
    : m_mainThreadId(mainThreadId), m_windowReady(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

CSplashThread::~CSplashThread() {
    if (m_windowReady) CloseHandle(m_windowReady);
}

void CSplashThread::ShowSplash(DWORD milliseconds) {
    CVelmoraApp* app = CVelmoraApp::Get();
    CSplashThread* splash = new CSplashThread(app && app->GetMainThreadId() ? app->GetMainThreadId()
                                                                            : GetCurrentThreadId());
    CHandle thread(splash->m_windowReady
                       ? CreateThread(nullptr, 0, ThreadProc, splash, CREATE_SUSPENDED, nullptr)
                       : nullptr);
    if (!thread.IsValid()) {
        delete splash;
        return;
    }
    splash->SetBitmapSource(IDB_SPLASH);
    ResumeThread(thread);
    Sleep(milliseconds);
    splash->HideSplash();
}

void CSplashThread::HideSplash() {
    WaitForSingleObject(m_windowReady, INFINITE);
    HWND window = m_splash.GetHwnd();
    if (!window) {
        delete this;   // the thread has ended without a window
        return;
    }
    m_splash.AllowClose();
    // Returns once the splash thread has destroyed the window; from then on
    // the object belongs to the ending thread.
    SendMessageA(window, WM_CLOSE, 0, 0);
}

bool CSplashThread::InitInstance() {
    AttachThreadInput(GetCurrentThreadId(), m_mainThreadId, TRUE);
    return m_splash.Create(m_bitmapId);
}

DWORD WINAPI CSplashThread::ThreadProc(void* parameter) {
    CSplashThread* self = static_cast<CSplashThread*>(parameter);
    bool shown = self->InitInstance();
    // From here on the main thread may delete the object when there is no window.
    SetEvent(self->m_windowReady);
    if (!shown) return 0;
    MSG message;
    while (self->m_splash.GetHwnd() && GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    delete self;
    return 0;
}

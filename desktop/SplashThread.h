// CSplashThread: the user-interface thread that shows the splash window for
// about a second while the main window initialises.
#pragma once
#include <windows.h>

#include "SplashWnd.h"

class CSplashThread {
public:
    // Shows the splash (bitmap 145) on its own thread, sleeps for the given
    // time on the calling thread and closes the splash again. Nothing is
    // shown, and there is no pause, when the thread cannot be started.
    static void ShowSplash(DWORD milliseconds);

private:
    explicit CSplashThread(DWORD mainThreadId);
    ~CSplashThread();
    CSplashThread(const CSplashThread&) = delete;
    CSplashThread& operator=(const CSplashThread&) = delete;

    // Waits until the window exists (or could not be made), allows it to
    // close and closes it; the thread then ends and deletes this object.
    void HideSplash();
    void SetBitmapSource(UINT bitmapId) { m_bitmapId = bitmapId; }
    bool InitInstance();
    static DWORD WINAPI ThreadProc(void* parameter);

    CSplashWnd m_splash;
    UINT m_bitmapId = 0;
    DWORD m_mainThreadId;
    HANDLE m_windowReady;   // set once the window was made, or failed
};

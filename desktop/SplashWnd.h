// CSplashWnd: the borderless, topmost start-up picture. It ignores close
// requests until its owner allows them, and can be dragged with the mouse.
#pragma once
#include <windows.h>

class CSplashWnd {
public:
    CSplashWnd() = default;
    virtual ~CSplashWnd();   // destroys the owner, the palette and the bitmap
    CSplashWnd(const CSplashWnd&) = delete;
    CSplashWnd& operator=(const CSplashWnd&) = delete;

    // Loads the bitmap from the resource module and creates the window on the
    // calling thread; false when no window could be made.
    bool Create(UINT bitmapId);
    HWND GetHwnd() const { return m_hWnd; }
    void AllowClose() { m_closeAllowed = true; }

    static const char* const kClassName;

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void BuildPalette();
    void OnPaint();
    void OnDestroy();

    volatile bool m_closeAllowed = false;
    HBITMAP m_bitmap = nullptr;
    HPALETTE m_palette = nullptr;
    int m_width = 0;
    int m_height = 0;
    HWND m_owner = nullptr;
    HWND m_hWnd = nullptr;
};

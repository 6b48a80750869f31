#include "SplashWnd.h"

#include "ResourceModule.h"

const char* const CSplashWnd::kClassName = "VelmoraSplash";

namespace {
const char* const kOwnerClassName = "VelmoraSplashOwner";
const WPARAM kMoveWithMouse = 0xF012;   // SC_MOVE | HTCAPTION

void RegisterClasses(HINSTANCE instance, WNDPROC splashProc) {
    WNDCLASSA owner = {};
    owner.lpfnWndProc = DefWindowProcA;
    owner.hInstance = instance;
    owner.lpszClassName = kOwnerClassName;
    RegisterClassA(&owner);   // fails harmlessly once registered

    WNDCLASSA splash = {};
    splash.lpfnWndProc = splashProc;
    splash.hInstance = instance;
    splash.hCursor = LoadCursor(nullptr, IDC_ARROW);
    splash.lpszClassName = CSplashWnd::kClassName;
    RegisterClassA(&splash);
}
}  // namespace

CSplashWnd::~CSplashWnd() {
    if (m_hWnd && IsWindow(m_hWnd)) DestroyWindow(m_hWnd);
    OnDestroy();
}

bool CSplashWnd::Create(UINT bitmapId) {
    m_bitmap = static_cast<HBITMAP>(LoadImageA(GetResourceModule(), MAKEINTRESOURCEA(bitmapId),
                                               IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION | LR_DEFAULTSIZE));
    if (m_bitmap) {
        BITMAP info = {};
        GetObjectA(m_bitmap, sizeof(info), &info);
        m_width = info.bmWidth;
        m_height = info.bmHeight;
    }
    HINSTANCE instance = GetProgramModule();
    RegisterClasses(instance, WindowProc);
    m_owner = CreateWindowExA(0, kOwnerClassName, "", WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
    CreateWindowExA(WS_EX_TOPMOST, kClassName, "", WS_POPUP | WS_VISIBLE, 0, 0, m_width, m_height,
                    m_owner, nullptr, instance, this);
    if (!m_hWnd) {
        OnDestroy();
        return false;
    }
    BuildPalette();
    HDC dc = GetDC(m_hWnd);
    HPALETTE old = SelectPalette(dc, m_palette, FALSE);
    if (RealizePalette(dc) > 0) InvalidateRect(m_hWnd, nullptr, TRUE);
    SelectPalette(dc, old, FALSE);
    ReleaseDC(m_hWnd, dc);
    return true;
}

void CSplashWnd::BuildPalette() {
    if (!m_bitmap) return;
    BITMAP info = {};
    GetObjectA(m_bitmap, sizeof(info), &info);
    HDC dc = GetDC(m_hWnd);
    if (info.bmBitsPixel * info.bmPlanes > 8) {
        m_palette = CreateHalftonePalette(dc);
    } else {
        HDC memory = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(memory, m_bitmap);
        RGBQUAD table[256] = {};
        UINT count = GetDIBColorTable(memory, 0, 256, table);
        SelectObject(memory, old);
        DeleteDC(memory);
        struct {
            LOGPALETTE header;
            PALETTEENTRY more[255];
        } palette = {};
        palette.header.palVersion = 0x300;
        palette.header.palNumEntries = 256;
        PALETTEENTRY* entries = palette.header.palPalEntry;
        for (UINT i = 0; i < count; ++i) {
            entries[i].peRed = table[i].rgbRed;
            entries[i].peGreen = table[i].rgbGreen;
            entries[i].peBlue = table[i].rgbBlue;
            entries[i].peFlags = 0;
        }
        m_palette = CreatePalette(&palette.header);
    }
    ReleaseDC(m_hWnd, dc);
}

LRESULT CALLBACK CSplashWnd::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        CSplashWnd* self = static_cast<CSplashWnd*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->m_hWnd = hwnd;
    }
    CSplashWnd* self = reinterpret_cast<CSplashWnd*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcA(hwnd, message, wParam, lParam);
    return self->OnMessage(message, wParam, lParam);
}

LRESULT CSplashWnd::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: {
        LRESULT result = DefWindowProcA(m_hWnd, message, wParam, lParam);
        RECT rect;
        GetWindowRect(m_hWnd, &rect);
        int x = (GetSystemMetrics(SM_CXSCREEN) - (rect.right - rect.left)) / 2;
        int y = (GetSystemMetrics(SM_CYSCREEN) - (rect.bottom - rect.top)) / 2;
        SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        return result;
    }
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_LBUTTONDOWN:
        SendMessageA(m_hWnd, WM_LBUTTONUP, 0, 0);
        SendMessageA(m_hWnd, WM_SYSCOMMAND, kMoveWithMouse, 0);
        return 0;
    case WM_CLOSE:
        if (!m_closeAllowed) return 0;
        break;
    case WM_NCDESTROY: {
        LRESULT result = DefWindowProcA(m_hWnd, message, wParam, lParam);
        SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, 0);
        m_hWnd = nullptr;
        // Wakes the thread's loop, which ends once the window is gone; the
        // owner, palette and bitmap go after that, when the window no longer
        // hangs on its owner.
        PostThreadMessageA(GetCurrentThreadId(), WM_NULL, 0, 0);
        return result;
    }
    default:
        break;
    }
    return DefWindowProcA(m_hWnd, message, wParam, lParam);
}

void CSplashWnd::OnPaint() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    HPALETTE oldPalette = m_palette ? SelectPalette(dc, m_palette, FALSE) : nullptr;
    if (m_palette) RealizePalette(dc);
    if (m_bitmap) {
        HDC memory = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(memory, m_bitmap);
        BitBlt(dc, 0, 0, m_width, m_height, memory, 0, 0, SRCCOPY);
        SelectObject(memory, old);
        DeleteDC(memory);
    }
    if (oldPalette) SelectPalette(dc, oldPalette, FALSE);
    EndPaint(m_hWnd, &paint);
}

void CSplashWnd::OnDestroy() {
    if (m_owner && IsWindow(m_owner)) DestroyWindow(m_owner);
    m_owner = nullptr;
    if (m_palette) DeleteObject(m_palette);
    m_palette = nullptr;
    if (m_bitmap) DeleteObject(m_bitmap);
    m_bitmap = nullptr;
}

// The splash screen on its own thread: shown centred for the given time,
// deaf to close requests, movable with the mouse, gone afterwards.
#include <windows.h>

#include <gtest/gtest.h>

#include "SplashThread.h"
#include "UiDriver.h"
#include "VelmoraApp.h"

using namespace uidriver;

namespace {
struct SplashRun {
    DWORD milliseconds;
    DWORD elapsed = 0;
};

DWORD WINAPI ShowSplashThread(void* parameter) {
    SplashRun* run = static_cast<SplashRun*>(parameter);
    DWORD start = GetTickCount();
    CSplashThread::ShowSplash(run->milliseconds);
    run->elapsed = GetTickCount() - start;
    return 0;
}

void SendMouse(DWORD flags, int x = 0, int y = 0) {
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    if (flags & MOUSEEVENTF_ABSOLUTE) {
        input.mi.dx = x * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1);
        input.mi.dy = y * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1);
    }
    SendInput(1, &input, sizeof(input));
}
}  // namespace

TEST(Splash, ShowsCentredIgnoresCloseRequestsCanBeDraggedAndGoes) {
    CVelmoraApp::EnableControls();
    SplashRun run = {2500};
    HANDLE thread = CreateThread(nullptr, 0, ShowSplashThread, &run, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    HWND splash = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
        splash = FindWindowA(CSplashWnd::kClassName, nullptr);
        return splash && IsWindowVisible(splash);
    }, 5000));

    RECT rect = {};
    GetWindowRect(splash, &rect);
    EXPECT_EQ(400, rect.right - rect.left);
    EXPECT_EQ(247, rect.bottom - rect.top);
    EXPECT_EQ((GetSystemMetrics(SM_CXSCREEN) - 400) / 2, rect.left);
    EXPECT_EQ((GetSystemMetrics(SM_CYSCREEN) - 247) / 2, rect.top);
    EXPECT_TRUE(GetWindowLongA(splash, GWL_EXSTYLE) & WS_EX_TOPMOST);
    HWND owner = GetWindow(splash, GW_OWNER);
    EXPECT_NE(nullptr, owner);
    EXPECT_FALSE(IsWindowVisible(owner));

    PostMessageA(splash, WM_CLOSE, 0, 0);
    PostMessageA(splash, WM_SYSCOMMAND, SC_CLOSE, 0);
    Settle(splash, 200);
    EXPECT_TRUE(IsWindow(splash) && IsWindowVisible(splash)) << "a close request closed the splash";

    // Drag by the picture: press inside, move, release.
    int x = (rect.left + rect.right) / 2, y = (rect.top + rect.bottom) / 2;
    SendMouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, x, y);
    Sleep(100);
    SendMouse(MOUSEEVENTF_LEFTDOWN);
    Sleep(200);
    for (int step = 1; step <= 6; ++step) {
        SendMouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, x + step * 10, y + step * 5);
        Sleep(50);
    }
    SendMouse(MOUSEEVENTF_LEFTUP);
    RECT moved = {};
    EXPECT_TRUE(WaitUntil([&] {
        GetWindowRect(splash, &moved);
        return moved.left == rect.left + 60 && moved.top == rect.top + 30;
    }, 2000)) << "the splash is at " << moved.left << "," << moved.top << ", was at " << rect.left << "," << rect.top;

    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
    CloseHandle(thread);
    EXPECT_GE(run.elapsed, 2500u);
    EXPECT_FALSE(IsWindow(splash));
    // The ending splash thread takes its owner window with it.
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(owner); }, 5000));
}

// The splash screen on its own thread: shown centred for the given time,
// deaf to close requests, movable with the mouse, gone afterwards.
#include <gtest/gtest.h>

#include "SplashThread.h"
#include "UiDriver.h"
#include "VelmoraApp.h"

using namespace uidriver;

namespace {
DWORD WINAPI ShowSplashThread(void* elapsed) {
    DWORD start = GetTickCount();
    CSplashThread::ShowSplash(2500);
    *static_cast<DWORD*>(elapsed) = GetTickCount() - start;
    return 0;
}

void SendMouse(DWORD flags, int x = 0, int y = 0) {
    INPUT input = {INPUT_MOUSE};
    input.mi.dwFlags = flags;
    input.mi.dx = x * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1);
    input.mi.dy = y * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1);
    SendInput(1, &input, sizeof(input));
}
}  // namespace

TEST(Splash, ShowsCentredIgnoresCloseRequestsCanBeDraggedAndGoes) {
    CVelmoraApp::EnableControls();
    DWORD elapsed = 0;
    HANDLE thread = CreateThread(nullptr, 0, ShowSplashThread, &elapsed, 0, nullptr);
    HWND splash = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (splash = FindWindowA(CSplashWnd::kClassName, nullptr)) && IsWindowVisible(splash); },
                          5000));
    RECT rect = {};
    GetWindowRect(splash, &rect);
    EXPECT_EQ((GetSystemMetrics(SM_CXSCREEN) - (rect.right - rect.left)) / 2, rect.left);
    EXPECT_EQ((GetSystemMetrics(SM_CYSCREEN) - (rect.bottom - rect.top)) / 2, rect.top);
    HWND owner = GetWindow(splash, GW_OWNER);   // keeps it off the task bar
    EXPECT_TRUE(owner && !IsWindowVisible(owner));

    PostMessageA(splash, WM_CLOSE, 0, 0);
    PostMessageA(splash, WM_SYSCOMMAND, SC_CLOSE, 0);
    Settle(splash, 200);
    EXPECT_TRUE(IsWindowVisible(splash)) << "a close request closed the splash";

    // Drag by the picture: press inside, move, release.
    int x = (rect.left + rect.right) / 2, y = (rect.top + rect.bottom) / 2;
    SendMouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, x, y);
    Sleep(100);
    SendMouse(MOUSEEVENTF_LEFTDOWN);
    Sleep(200);
    for (int step = 1; step <= 6; ++step, Sleep(50))
        SendMouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, x + step * 10, y + step * 5);
    SendMouse(MOUSEEVENTF_LEFTUP);
    RECT moved = {};
    EXPECT_TRUE(WaitUntil([&] {
        GetWindowRect(splash, &moved);
        return moved.left == rect.left + 60 && moved.top == rect.top + 30;
    }, 2000)) << "the splash is at " << moved.left << "," << moved.top << ", was at " << rect.left << "," << rect.top;

    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
    CloseHandle(thread);
    EXPECT_GE(elapsed, 2500u);
    EXPECT_FALSE(IsWindow(splash));
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(owner); }, 5000)) << "the owner window was left behind";
}

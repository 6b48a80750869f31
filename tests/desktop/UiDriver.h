// Driving the desktop program's real windows from a test thread: the program
// runs its main dialog on a thread of the test process, and the test finds
// windows, clicks controls, reads trees, lists and message boxes.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

namespace uidriver {

// Polls until the predicate holds or the time is up; true when it held.
bool WaitUntil(const std::function<bool()>& predicate, int timeoutMs = 10000);
// Lets the program's thread work off what was posted to it.
void Settle(HWND window, int milliseconds = 300);

// A visible top-level window of the thread with exactly this caption.
HWND FindThreadWindow(DWORD threadId, const std::string& caption);
HWND WaitForThreadWindow(DWORD threadId, const std::string& caption, int timeoutMs = 10000);
// Every visible top-level window of the thread whose class is the dialog class.
std::vector<HWND> ThreadDialogs(DWORD threadId);

std::string WindowText(HWND window);
// The text of a message box (its static control 0xFFFF).
std::string MessageBoxText(HWND box);
// Presses a button of a dialog as a click would (posted, so a modal loop
// that it starts does not block the test).
void Press(HWND dialog, int buttonId);

// A left click at a point of the control's client area: the cursor is moved
// there first, since handlers hit-test the cursor position.
void ClickAt(HWND control, POINT client);

// Tree view helpers.
std::vector<HTREEITEM> TreeRootItems(HWND tree);
std::string TreeItemText(HWND tree, HTREEITEM item);
int TreeItemImage(HWND tree, HTREEITEM item);
bool TreeItemTicked(HWND tree, HTREEITEM item);
HTREEITEM TreeSelection(HWND tree);
// A point of the item's check box (hit test: on the state icon, x 0..14).
POINT TreeCheckBoxPoint(HWND tree, HTREEITEM item);
POINT TreeTextPoint(HWND tree, HTREEITEM item);

// List view helpers.
int ListCount(HWND list);
std::string ListText(HWND list, int row, int column);
bool ListTicked(HWND list, int row);
int ListSelection(HWND list);
POINT ListCheckBoxPoint(HWND list, int row);
POINT ListTextPoint(HWND list, int row);

bool StyleDisabled(HWND window);

}  // namespace uidriver

// Reads the running program's windows for the demo, which clicks its real
// controls with xdotool. The dialog is found by caption ("-": the active one,
// as the system's own dialogs are captioned in the user's language), the
// control by id among its visible descendants (the pages' controls are
// children of the tab control, and both pages share some ids).
//   WindowProbe.exe <caption> <control id>          screen "left top right bottom"
//   WindowProbe.exe <caption> <control id> text     the control's text
//   WindowProbe.exe <caption> <control id> tree     per visible tree item: "x y ticked text",
//                                                    x y = a screen point of its check box
//   WindowProbe.exe <caption> <control id> labels   the same with a point of each item's text
//   WindowProbe.exe <caption> <control id> rows     per list row: "x y ticked text" (column 1)
// Exit code 1 when the dialog or control is not there.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
int g_controlId = 0;
BOOL CALLBACK MatchControl(HWND window, LPARAM found) {
    if (GetDlgCtrlID(window) != g_controlId || !IsWindowVisible(window)) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// Tree and list messages carry pointers, which only mean something inside the
// program's own process: the structure (at 0), a rectangle and the text live
// in memory allocated there.
const size_t kRectOffset = 256, kTextOffset = 512;
const int kTextBytes = 256;
struct CRemoteBuffer {
    HANDLE process = nullptr;
    char* address = nullptr;
    explicit CRemoteBuffer(HWND window) {
        DWORD processId = 0;
        GetWindowThreadProcessId(window, &processId);
        process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
        if (process)
            address = static_cast<char*>(VirtualAllocEx(process, nullptr, 1024, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    }
    ~CRemoteBuffer() {
        if (address) VirtualFreeEx(process, address, 0, MEM_RELEASE);
        if (process) CloseHandle(process);
    }
    CRemoteBuffer(const CRemoteBuffer&) = delete;
    CRemoteBuffer& operator=(const CRemoteBuffer&) = delete;
    LPARAM At(size_t offset) const { return reinterpret_cast<LPARAM>(address + offset); }
    // Every offset and size used here lies within the 1024 bytes.
    bool Write(const void* data, size_t size, size_t offset = 0) const {
        SIZE_T done = 0;
        return WriteProcessMemory(process, address + offset, data, size, &done) && done == size;
    }
    bool Read(void* data, size_t size, size_t offset = 0) const {
        SIZE_T done = 0;
        return ReadProcessMemory(process, address + offset, data, size, &done) && done == size;
    }
    // The text the last message left, and the rectangle this one asks for.
    bool TextAndRect(HWND control, UINT message, WPARAM wParam, char* text, RECT& rect) const {
        return Read(text, kTextBytes - 1, kTextOffset) && Write(&rect, sizeof(rect), kRectOffset) &&
               SendMessageA(control, message, wParam, At(kRectOffset)) && Read(&rect, sizeof(rect), kRectOffset);
    }
};

void PrintScreenPoint(HWND control, POINT point, UINT state, const char* text) {
    ClientToScreen(control, &point);
    printf("%ld %ld %d %s\n", point.x, point.y, (state & TVIS_STATEIMAGEMASK) >> 12 == 2 ? 1 : 0, text);
}

// The state icon sits at the item's left; the program takes a click at x 0..14.
int ProbeTree(HWND tree, bool labels, const CRemoteBuffer& remote) {
    for (HTREEITEM item = TreeView_GetFirstVisible(tree); item; item = TreeView_GetNextVisible(tree, item)) {
        TVITEMA entry = {TVIF_TEXT | TVIF_STATE, item, 0, TVIS_STATEIMAGEMASK,
                         reinterpret_cast<char*>(remote.At(kTextOffset)), kTextBytes};
        char text[kTextBytes] = {};
        RECT rect = {};
        *reinterpret_cast<HTREEITEM*>(&rect) = item;  // TVM_GETITEMRECT takes the item in the rectangle
        if (!remote.Write(&entry, sizeof(entry)) || !SendMessageA(tree, TVM_GETITEMA, 0, remote.At(0)) ||
            !remote.Read(&entry, sizeof(entry)) || !remote.TextAndRect(tree, TVM_GETITEMRECT, labels, text, rect))
            return 1;
        PrintScreenPoint(tree, {labels ? rect.left + 6 : 7, (rect.top + rect.bottom) / 2}, entry.state, text);
    }
    return 0;
}

// The check box is the row's first small icon.
int ProbeRows(HWND list, const CRemoteBuffer& remote) {
    for (int row = 0; row < static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)); ++row) {
        LVITEMA entry = {0, 0, 1, 0, 0, reinterpret_cast<char*>(remote.At(kTextOffset)), kTextBytes};
        char text[kTextBytes] = {};
        RECT rect = {LVIR_BOUNDS};
        if (!remote.Write(&entry, sizeof(entry)) || SendMessageA(list, LVM_GETITEMTEXTA, row, remote.At(0)) < 0 ||
            !remote.TextAndRect(list, LVM_GETITEMRECT, row, text, rect))
            return 1;
        UINT state = static_cast<UINT>(SendMessageA(list, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK));
        PrintScreenPoint(list, {rect.left + 9, (rect.top + rect.bottom) / 2}, state, text);
    }
    return 0;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        fprintf(stderr, "usage: WindowProbe <caption> <control id> [text|tree|labels|rows]\n");
        return 2;
    }
    HWND dialog = strcmp(argv[1], "-") == 0 ? GetForegroundWindow() : FindWindowA("#32770", argv[1]);
    HWND control = nullptr;
    g_controlId = atoi(argv[2]);
    if (dialog) EnumChildWindows(dialog, MatchControl, reinterpret_cast<LPARAM>(&control));
    if (!control) return 1;
    std::string mode = argc == 4 ? argv[3] : "";
    if (mode == "text") {
        // Sent, not GetWindowText: that would not ask another process's control.
        char text[4096] = {};
        DWORD_PTR copied = 0;
        SendMessageTimeoutA(control, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                            2000, &copied);
        return printf("%s\n", text), 0;
    }
    if (mode == "tree" || mode == "labels" || mode == "rows") {
        CRemoteBuffer remote(control);
        if (!remote.address) return 1;
        return mode == "rows" ? ProbeRows(control, remote) : ProbeTree(control, mode == "labels", remote);
    }
    RECT rect = {};
    if (!GetWindowRect(control, &rect)) return 1;
    printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right, rect.bottom);
    return 0;
}

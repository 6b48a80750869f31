// Prints the screen rectangle "left top right bottom" of a control of a
// top-level dialog, found by the dialog's caption and the control's id:
//   WindowProbe.exe <caption> <control id>
// The demo uses it to click the real controls of the running program.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: WindowProbe <caption> <control id>\n");
        return 2;
    }
    HWND dialog = FindWindowA("#32770", argv[1]);
    HWND control = dialog ? GetDlgItem(dialog, atoi(argv[2])) : nullptr;
    RECT rect = {};
    if (!control || !GetWindowRect(control, &rect)) return 1;
    printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right, rect.bottom);
    return 0;
}

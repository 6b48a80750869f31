// Idles for the length of a test run so that Wine keeps its desktop process,
// and every test program starts quickly. The test bench kills it at the end.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    for (;;) Sleep(60000);
}

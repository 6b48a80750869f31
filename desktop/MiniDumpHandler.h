// CMiniDumpHandler: offers to save a minidump when the process raises an
// exception that nothing handles. One global object, constructed during static
// initialisation, installs the process's unhandled-exception filter.
//
// The filter runs on the failing thread, whose heap may be corrupt and whose
// stack may be used up. So it only hands the exception to a thread of the
// handler's own, started with the object, and waits; that thread works with
// fixed buffers and the plain registry API (no strings, no log).
#pragma once
#include <windows.h>

class CMiniDumpHandler {
public:
    // Copies the texts; the home directory is read from root\keyPath\valueName
    // at crash time. The dump goes to the "Velmora" folder of the user's
    // local application-data folder (the temporary folder without one).
    CMiniDumpHandler(const char* applicationName, HKEY root, const char* keyPath,
                     const char* valueName);
    CMiniDumpHandler(const CMiniDumpHandler&) = delete;
    CMiniDumpHandler& operator=(const CMiniDumpHandler&) = delete;

    // 1 (EXCEPTION_EXECUTE_HANDLER) after a dump was saved, 0 otherwise.
    static LONG WINAPI TopLevelFilter(EXCEPTION_POINTERS* exception);

private:
    // The handler's work for the exception recorded by the filter.
    static LONG HandleCrash();
    static DWORD WINAPI HandlerThread(void*);

    static char s_applicationName[MAX_PATH];
    static HKEY s_root;
    static char s_keyPath[MAX_PATH];
    static char s_valueName[MAX_PATH];
    // Set by the filter for the handler thread.
    static EXCEPTION_POINTERS* s_exception;
    static DWORD s_threadId;
    static DWORD s_handlerThreadId;
    static LONG s_result;
    static volatile LONG s_entered;
    static HANDLE s_request;   // auto-reset: a crash to handle
    static HANDLE s_done;      // manual-reset: the result is set
};

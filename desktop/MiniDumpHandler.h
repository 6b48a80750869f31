// CMiniDumpHandler: offers to save a minidump when the process raises an
// exception that nothing handles. One global object, constructed during static
// initialisation, installs the process's unhandled-exception filter.
#pragma once
#include <windows.h>

class CMiniDumpHandler {
public:
    // Copies the texts; the home directory is read from root\keyPath\valueName
    // at crash time.
    CMiniDumpHandler(const char* applicationName, HKEY root, const char* keyPath,
                     const char* valueName);
    CMiniDumpHandler(const CMiniDumpHandler&) = delete;
    CMiniDumpHandler& operator=(const CMiniDumpHandler&) = delete;

    // 1 (EXCEPTION_EXECUTE_HANDLER) after a dump was saved, 0 otherwise.
    static LONG WINAPI TopLevelFilter(EXCEPTION_POINTERS* exception);

private:
    static char s_applicationName[MAX_PATH];
    static HKEY s_root;
    static char s_keyPath[MAX_PATH];
    static char s_valueName[MAX_PATH];
};

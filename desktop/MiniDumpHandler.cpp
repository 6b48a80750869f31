#include "MiniDumpHandler.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "Handles.h"
#include "ORRegistryUtil.h"

namespace {
// MiniDumpWriteDump, declared here so the program needs no import library:
// the debugging library is looked up at crash time.
struct DumpExceptionInformation {
    DWORD threadId;
    EXCEPTION_POINTERS* exceptionPointers;
    BOOL clientPointers;
};
typedef BOOL(WINAPI* PFN_MiniDumpWriteDump)(HANDLE process, DWORD processId, HANDLE file,
                                            int dumpType, DumpExceptionInformation* exception,
                                            void* userStream, void* callback);
const int kMiniDumpNormal = 0;

void CopyBounded(char* target, size_t size, const char* source) {
    snprintf(target, size, "%s", source ? source : "");
}
}  // namespace

char CMiniDumpHandler::s_applicationName[MAX_PATH] = {};
HKEY CMiniDumpHandler::s_root = nullptr;
char CMiniDumpHandler::s_keyPath[MAX_PATH] = {};
char CMiniDumpHandler::s_valueName[MAX_PATH] = {};

CMiniDumpHandler::CMiniDumpHandler(const char* applicationName, HKEY root, const char* keyPath,
                                   const char* valueName) {
    CopyBounded(s_applicationName, sizeof(s_applicationName), applicationName);
    s_root = root;
    CopyBounded(s_keyPath, sizeof(s_keyPath), keyPath);
    CopyBounded(s_valueName, sizeof(s_valueName), valueName);
    SetUnhandledExceptionFilter(TopLevelFilter);
}

LONG WINAPI CMiniDumpHandler::TopLevelFilter(EXCEPTION_POINTERS* exception) {
    LONG result = EXCEPTION_CONTINUE_SEARCH;
    std::string home;
    bool haveHome = ORRegistryUtil::ReadStringFromRegistry(s_root, s_keyPath, s_valueName, home);

    // Home directory first; without one, the program's own folder; then the
    // system's search order.
    CLibrary library;
    if (haveHome) {
        std::string path = home + "\\DBGHELP.DLL";
        if (path.size() < MAX_PATH) library.Load(path.c_str());
    } else {
        char path[MAX_PATH] = {};
        DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
        char* slash = length > 0 && length < sizeof(path) ? strrchr(path, '\\') : nullptr;
        if (slash && static_cast<size_t>(slash + 1 - path) + sizeof("DBGHELP.DLL") <= sizeof(path)) {
            strcpy(slash + 1, "DBGHELP.DLL");
            library.Load(path);
        }
    }
    if (!library.Get()) library.Load("DBGHELP.DLL");

    char message[2 * MAX_PATH + 64] = {};
    if (!library.Get()) {
        CopyBounded(message, sizeof(message), "DBGHELP.DLL not found");
    } else {
        PFN_MiniDumpWriteDump writeDump =
            reinterpret_cast<PFN_MiniDumpWriteDump>(reinterpret_cast<void*>(library.Proc("MiniDumpWriteDump")));
        if (!writeDump) {
            CopyBounded(message, sizeof(message), "DBGHELP.DLL too old");
        } else {
            std::string dumpPath;
            if (haveHome) {
                dumpPath = home + "\\";
            } else {
                char temp[MAX_PATH] = {};
                DWORD length = GetTempPathA(sizeof(temp), temp);
                dumpPath = (length > 0 && length < sizeof(temp)) ? temp : "c:\\temp\\";
            }
            dumpPath += s_applicationName;
            dumpPath += ".dmp";

            if (MessageBoxA(nullptr,
                            "Application exits unexpectedly. Do you want to save a diagnostic file?",
                            s_applicationName, MB_ICONERROR | MB_YESNO) != IDYES)
                return EXCEPTION_CONTINUE_SEARCH;

            CHandle file(CreateFileA(dumpPath.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!file.IsValid()) {
                snprintf(message, sizeof(message), "Failed to create dump file '%s' (error %d)",
                         dumpPath.c_str(), static_cast<int>(GetLastError()));
            } else {
                DumpExceptionInformation info = {GetCurrentThreadId(), exception, FALSE};
                if (writeDump(GetCurrentProcess(), GetCurrentProcessId(), file, kMiniDumpNormal,
                              &info, nullptr, nullptr)) {
                    snprintf(message, sizeof(message), "Saved dump file to '%s'", dumpPath.c_str());
                    result = EXCEPTION_EXECUTE_HANDLER;
                } else {
                    snprintf(message, sizeof(message), "Failed to save dump file to '%s' (error %d)",
                             dumpPath.c_str(), static_cast<int>(GetLastError()));
                }
            }
        }
    }
    MessageBoxA(nullptr, message, s_applicationName, MB_OK);
    return result;
}

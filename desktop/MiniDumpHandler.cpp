#include "MiniDumpHandler.h"

#include <shlobj.h>

#include "Handles.h"

namespace {
// MiniDumpWriteDump, declared here so the program needs no import library:
// the debugging library is looked up at crash time.
// The debugging library lays this out packed to 4 bytes: on 64-bit Windows
// the pointer follows the thread id directly.
#pragma pack(push, 4)
struct DumpExceptionInformation {
    DWORD threadId;
    EXCEPTION_POINTERS* exceptionPointers;
    BOOL clientPointers;
};
#pragma pack(pop)
static_assert(sizeof(DumpExceptionInformation) == 8 + sizeof(void*), "laid out as MINIDUMP_EXCEPTION_INFORMATION");
typedef BOOL(WINAPI* PFN_MiniDumpWriteDump)(HANDLE process, DWORD processId, HANDLE file,
                                            int dumpType, DumpExceptionInformation* exception,
                                            void* userStream, void* callback);
const int kMiniDumpNormal = 0;

// A text in a fixed buffer: appending never allocates and never overflows;
// Fits() tells whether everything appended so far went in whole.
template <size_t N>
class CFixedText {
public:
    CFixedText& Add(const char* text) {
        for (; text && *text; ++text) {
            if (m_length + 1 >= N) { m_whole = false; break; }
            m_text[m_length++] = *text;
        }
        m_text[m_length] = '\0';
        return *this;
    }
    CFixedText& AddNumber(DWORD value) {
        char digits[16];
        int count = 0;
        do { digits[count++] = static_cast<char>('0' + value % 10); value /= 10; } while (value);
        char reversed[16];
        for (int i = 0; i < count; ++i) reversed[i] = digits[count - 1 - i];
        reversed[count] = '\0';
        return Add(reversed);
    }
    void Clear() { m_length = 0; m_text[0] = '\0'; m_whole = true; }
    const char* Get() const { return m_text; }
    bool Fits() const { return m_whole; }
    bool Empty() const { return m_length == 0; }

private:
    char m_text[N] = {};
    size_t m_length = 0;
    bool m_whole = true;
};
typedef CFixedText<MAX_PATH> CPathText;

void CopyBounded(char* target, size_t size, const char* source) {
    size_t i = 0;
    for (; source && source[i] && i + 1 < size; ++i) target[i] = source[i];
    target[i] = '\0';
}

// The home directory from root\keyPath\valueName, without the registry
// utility, which logs (and so locks) on failure.
bool ReadHome(HKEY root, const char* keyPath, const char* valueName, CPathText& home) {
    CKey key;
    if (key.Open(root, keyPath, KEY_QUERY_VALUE) != ERROR_SUCCESS) return false;
    char value[MAX_PATH] = {};
    DWORD type = 0, size = sizeof(value) - 1;   // room for a terminator the data may lack
    if (RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    value[size < sizeof(value) ? size : sizeof(value) - 1] = '\0';
    home.Add(value);
    return home.Fits();
}

// The folder for the dump, ending in a backslash: "Velmora" in the local
// application-data folder (which is the user's own and not virtualised),
// else the temporary folder, else "c:\temp\".
void DumpFolder(CPathText& folder) {
    char path[MAX_PATH] = {};
    if (SHGetSpecialFolderPathA(nullptr, path, CSIDL_LOCAL_APPDATA, TRUE)) {
        folder.Add(path).Add("\\Velmora");
        if (folder.Fits() && (CreateDirectoryA(folder.Get(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS)) {
            folder.Add("\\");
            if (folder.Fits()) return;
        }
    }
    folder.Clear();
    DWORD length = GetTempPathA(sizeof(path), path);
    folder.Add(length > 0 && length < sizeof(path) ? path : "c:\\temp\\");
}
}  // namespace

char CMiniDumpHandler::s_applicationName[MAX_PATH] = {};
HKEY CMiniDumpHandler::s_root = nullptr;
char CMiniDumpHandler::s_keyPath[MAX_PATH] = {};
char CMiniDumpHandler::s_valueName[MAX_PATH] = {};
EXCEPTION_POINTERS* CMiniDumpHandler::s_exception = nullptr;
DWORD CMiniDumpHandler::s_threadId = 0;
DWORD CMiniDumpHandler::s_handlerThreadId = 0;
LONG CMiniDumpHandler::s_result = EXCEPTION_CONTINUE_SEARCH;
volatile LONG CMiniDumpHandler::s_entered = 0;
HANDLE CMiniDumpHandler::s_request = nullptr;
HANDLE CMiniDumpHandler::s_done = nullptr;

CMiniDumpHandler::CMiniDumpHandler(const char* applicationName, HKEY root, const char* keyPath,
                                   const char* valueName) {
    CopyBounded(s_applicationName, sizeof(s_applicationName), applicationName);
    s_root = root;
    CopyBounded(s_keyPath, sizeof(s_keyPath), keyPath);
    CopyBounded(s_valueName, sizeof(s_valueName), valueName);
    // The handler thread waits for the whole run; the process's end takes
    // it. Without it (or its events) the filter does the work itself.
    s_request = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    s_done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = s_request && s_done ? CreateThread(nullptr, 0, HandlerThread, nullptr, 0, &s_handlerThreadId)
                                        : nullptr;
    if (thread) {
        CloseHandle(thread);
    } else {
        if (s_request) CloseHandle(s_request);
        if (s_done) CloseHandle(s_done);
        s_request = s_done = nullptr;
        s_handlerThreadId = 0;
    }
    SetUnhandledExceptionFilter(TopLevelFilter);
}

DWORD WINAPI CMiniDumpHandler::HandlerThread(void*) {
    if (WaitForSingleObject(s_request, INFINITE) == WAIT_OBJECT_0) {
        s_result = HandleCrash();
        SetEvent(s_done);
    }
    return 0;
}

LONG WINAPI CMiniDumpHandler::TopLevelFilter(EXCEPTION_POINTERS* exception) {
    // A failure of the handler itself must not wait for the handler.
    if (s_handlerThreadId != 0 && GetCurrentThreadId() == s_handlerThreadId) return EXCEPTION_CONTINUE_SEARCH;
    // One crash is handled; a second failing thread waits for its outcome.
    if (InterlockedExchange(&s_entered, 1) != 0) {
        if (s_done) WaitForSingleObject(s_done, INFINITE);
        return s_result;
    }
    s_exception = exception;
    s_threadId = GetCurrentThreadId();
    if (!s_request || !SetEvent(s_request)) return HandleCrash();
    WaitForSingleObject(s_done, INFINITE);
    return s_result;
}

LONG CMiniDumpHandler::HandleCrash() {
    LONG result = EXCEPTION_CONTINUE_SEARCH;
    CPathText home;
    bool haveHome = ReadHome(s_root, s_keyPath, s_valueName, home);

    // Home directory first; without one, the program's own folder; then the
    // system's search order.
    CLibrary library;
    if (haveHome) {
        CPathText path;
        path.Add(home.Get()).Add("\\DBGHELP.DLL");
        if (path.Fits()) library.Load(path.Get());
    } else {
        char path[MAX_PATH] = {};
        DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
        if (length > 0 && length < sizeof(path)) {
            DWORD slash = length;
            while (slash > 0 && path[slash - 1] != '\\') --slash;
            if (slash > 0) {
                path[slash] = '\0';
                CPathText libraryPath;
                libraryPath.Add(path).Add("DBGHELP.DLL");
                if (libraryPath.Fits()) library.Load(libraryPath.Get());
            }
        }
    }
    if (!library.Get()) library.Load("DBGHELP.DLL");

    CFixedText<2 * MAX_PATH + 64> message;
    if (!library.Get()) {
        message.Add("DBGHELP.DLL not found");
    } else {
        PFN_MiniDumpWriteDump writeDump =
            reinterpret_cast<PFN_MiniDumpWriteDump>(reinterpret_cast<void*>(library.Proc("MiniDumpWriteDump")));
        if (!writeDump) {
            message.Add("DBGHELP.DLL too old");
        } else {
            CPathText dumpPath;
            DumpFolder(dumpPath);
            dumpPath.Add(s_applicationName).Add(".dmp");

            if (MessageBoxA(nullptr,
                            "Application exits unexpectedly. Do you want to save a diagnostic file?",
                            s_applicationName, MB_ICONERROR | MB_YESNO) != IDYES)
                return EXCEPTION_CONTINUE_SEARCH;

            CHandle file(dumpPath.Fits() ? CreateFileA(dumpPath.Get(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)
                                         : INVALID_HANDLE_VALUE);
            DWORD error = dumpPath.Fits() ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
            if (!file.IsValid()) {
                message.Add("Failed to create dump file '").Add(dumpPath.Get()).Add("' (error ").AddNumber(error).Add(")");
            } else {
                DumpExceptionInformation info = {s_threadId, s_exception, FALSE};
                if (writeDump(GetCurrentProcess(), GetCurrentProcessId(), file, kMiniDumpNormal,
                              &info, nullptr, nullptr)) {
                    message.Add("Saved dump file to '").Add(dumpPath.Get()).Add("'");
                    result = EXCEPTION_EXECUTE_HANDLER;
                } else {
                    error = GetLastError();
                    message.Add("Failed to save dump file to '").Add(dumpPath.Get()).Add("' (error ")
                        .AddNumber(error).Add(")");
                }
            }
        }
    }
    MessageBoxA(nullptr, message.Get(), s_applicationName, MB_OK);
    return result;
}

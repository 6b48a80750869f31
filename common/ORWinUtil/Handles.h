// Small owners for Win32 handles. Each holds exactly one handle, cannot be
// copied, and releases it in its destructor, so no early return leaks.
#pragma once
#include <windows.h>

// One registry key. Open/Create adopt the new key only on success and return
// the API's own error code (0 = success); the held key is left untouched on
// failure.
class CKey {
public:
    CKey() = default;
    ~CKey() { Close(); }
    CKey(const CKey&) = delete;
    CKey& operator=(const CKey&) = delete;

    LONG Open(HKEY parent, const char* subKey, REGSAM access) {
        HKEY key = nullptr;
        LONG rc = RegOpenKeyExA(parent, subKey, 0, access, &key);
        if (rc == ERROR_SUCCESS) { Close(); m_key = key; }
        return rc;
    }
    LONG Create(HKEY parent, const char* subKey, REGSAM access, const char* keyClass = nullptr) {
        HKEY key = nullptr;
        LONG rc = RegCreateKeyExA(parent, subKey, 0, const_cast<char*>(keyClass),
                                  REG_OPTION_NON_VOLATILE, access, nullptr, &key, nullptr);
        if (rc == ERROR_SUCCESS) { Close(); m_key = key; }
        return rc;
    }
    LONG Close() {
        LONG rc = ERROR_SUCCESS;
        if (m_key) { rc = RegCloseKey(m_key); m_key = nullptr; }
        return rc;
    }
    void Attach(HKEY key) { Close(); m_key = key; }
    HKEY Detach() { HKEY key = m_key; m_key = nullptr; return key; }
    HKEY Get() const { return m_key; }
    operator HKEY() const { return m_key; }
    bool IsOpen() const { return m_key != nullptr; }

private:
    HKEY m_key = nullptr;
};

// A kernel handle whose "none" value is given by the API that made it:
// CreateFile returns INVALID_HANDLE_VALUE, CreateThread and CreateEvent NULL.
// Both count as none here, so either kind of failure leaves nothing to close.
class CHandle {
public:
    CHandle() = default;
    explicit CHandle(HANDLE h) : m_h(h) {}
    ~CHandle() { Close(); }
    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;

    bool IsValid() const { return m_h != nullptr && m_h != INVALID_HANDLE_VALUE; }
    void Attach(HANDLE h) { Close(); m_h = h; }
    HANDLE Detach() { HANDLE h = m_h; m_h = nullptr; return h; }
    HANDLE Get() const { return m_h; }
    operator HANDLE() const { return m_h; }
    BOOL Close() {
        BOOL ok = TRUE;
        if (IsValid()) ok = CloseHandle(m_h);
        m_h = nullptr;
        return ok;
    }

private:
    HANDLE m_h = nullptr;
};

// A FindFirstFile search.
class CFindHandle {
public:
    CFindHandle() = default;
    ~CFindHandle() { Close(); }
    CFindHandle(const CFindHandle&) = delete;
    CFindHandle& operator=(const CFindHandle&) = delete;

    // Starts a search; true when the first entry was found (then in data).
    bool First(const char* pattern, WIN32_FIND_DATAA& data) {
        Close();
        m_h = FindFirstFileA(pattern, &data);
        return m_h != INVALID_HANDLE_VALUE;
    }
    bool Next(WIN32_FIND_DATAA& data) { return m_h != INVALID_HANDLE_VALUE && FindNextFileA(m_h, &data); }
    void Close() {
        if (m_h != INVALID_HANDLE_VALUE) { FindClose(m_h); m_h = INVALID_HANDLE_VALUE; }
    }

private:
    HANDLE m_h = INVALID_HANDLE_VALUE;
};

// A loaded library. Free() unloads it; Detach() hands the module over for good
// (the satellite libraries stay loaded for the rest of the process).
class CLibrary {
public:
    CLibrary() = default;
    ~CLibrary() { Free(); }
    CLibrary(const CLibrary&) = delete;
    CLibrary& operator=(const CLibrary&) = delete;

    bool Load(const char* path) {
        HMODULE m = LoadLibraryA(path);
        if (!m) return false;
        Free();
        m_module = m;
        return true;
    }
    bool Free() {
        BOOL ok = TRUE;
        if (m_module) { ok = FreeLibrary(m_module); m_module = nullptr; }
        return ok != FALSE;
    }
    HMODULE Detach() { HMODULE m = m_module; m_module = nullptr; return m; }
    HMODULE Get() const { return m_module; }
    FARPROC Proc(const char* name) const { return m_module ? GetProcAddress(m_module, name) : nullptr; }

private:
    HMODULE m_module = nullptr;
};

// A critical section and its scoped lock.
class CCriticalSection {
public:
    CCriticalSection() { InitializeCriticalSection(&m_cs); }
    ~CCriticalSection() { DeleteCriticalSection(&m_cs); }
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;
    void Enter() { EnterCriticalSection(&m_cs); }
    void Leave() { LeaveCriticalSection(&m_cs); }

private:
    CRITICAL_SECTION m_cs;
};

class CLock {
public:
    explicit CLock(CCriticalSection& cs) : m_cs(cs) { m_cs.Enter(); }
    ~CLock() { m_cs.Leave(); }
    CLock(const CLock&) = delete;
    CLock& operator=(const CLock&) = delete;

private:
    CCriticalSection& m_cs;
};

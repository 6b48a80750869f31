// ORRegistryUtil: registry access beyond single API calls, and the saving and
// restoring of whole key trees as hive files. All operations are static.
#pragma once
#include <windows.h>
#include <string>

// The product's own key, under HKEY_LOCAL_MACHINE ("Velmora Home") and
// HKEY_CURRENT_USER ("UI Language", "LogLevel", "Restore Warning Off").
extern const char* const kProductKey;

class ORRegistryUtil {
public:
    static const DWORD kNameBytes = 1024;     // subkey, value and class names
    static const DWORD kStringBytes = 256;    // ReadStringFromRegistry buffer
    static const char* const kMountName;      // "TEMP_HIVE" under HKEY_USERS
    // How long a restore waits for another instance's restore to finish with
    // the mount before it gives up on its key.
    static DWORD s_mountWaitMs;

    // Value access. QueryRegValue and SetRegValue return Win32 error codes.
    static LONG QueryRegValue(HKEY root, const char* subKey, const char* valueName, DWORD* type,
                              BYTE* data, DWORD* dataSize);
    // Never creates keys: the subkey must exist.
    static LONG SetRegValue(HKEY root, const char* subKey, const char* valueName, DWORD type,
                            const BYTE* data, DWORD dataSize);
    // Leaves value untouched on failure; values over 256 bytes fail.
    // optional: a setting whose key may well not exist yet; its absence
    // (ERROR_FILE_NOT_FOUND) is then not logged, any other failure is.
    static bool ReadStringFromRegistry(HKEY root, const char* subKey, const char* valueName,
                                       std::string& value, bool optional = false);
    static bool ReadDwordFromRegistry(HKEY root, const char* subKey, const char* valueName,
                                      DWORD& value, bool optional = false);
    static bool WriteDwordToRegistry(HKEY root, const char* subKey, const char* valueName,
                                     DWORD value);

    static bool RegKeyExists(HKEY root, const char* subKey);
    static bool FileExists(const char* path);
    static bool EnablePrivilege(const char* name, bool enable);

    // Saves root\subKey and everything below it as a hive file, replacing an
    // existing file. A missing key leaves an existing file untouched.
    static bool SaveRegKeyPath(HKEY root, const char* subKey, const char* hivePath);

    // Replaces root\subKey with the tree stored in a hive file: afterwards the
    // key holds exactly the saved tree. The hive is loaded and copied aside
    // before the key is touched, and the old tree is kept until the new one is
    // complete: on any failure the key is left as it was before the call.
    // stop: null, or a flag (Cancel) that ends the wait for another
    // instance's mount within a fifth of a second; the key is then left.
    static bool RestoreRegKeyPath(HKEY root, const char* subKey, const char* hivePath,
                                  const volatile bool* stop = nullptr);

    // Unloads a hive mounted under HKEY_USERS (the caller holds the restore
    // and backup privileges). Any process may hold a key of it open for a
    // moment (a registry editor, a scanner), and the unload is refused
    // (access denied) until it lets go: it is tried again for up to waitMs.
    // Every other outcome, a hive not mounted among them, returns at once.
    static LONG UnloadHive(const char* mountName, DWORD waitMs = kUnloadWaitMs);
    static const DWORD kUnloadWaitMs = 5000;

    // Puts back a key that a killed restore left in its safety copy, unless a
    // restore of this or another instance is running right now. False only
    // when a copy was there and could not be put back (it is kept).
    static bool PutBackInterruptedRestore(HKEY root);

    static LONG DeleteRegKeyTree(HKEY root, const char* subKey);
    static LONG CopyRegKeyValues(HKEY sourceRoot, const char* sourceSubKey, HKEY target);
    // Note the order: target first.
    static LONG CopyRegKeyTree(HKEY target, HKEY source);
};

// The machine-wide lock on the "TEMP_HIVE" mount and the restore working keys,
// held for the lifetime of the object. Every instance of the product takes it
// before it loads, copies or unloads there, so no instance ever unloads a hive
// another one is still reading.
class CHiveMountLock {
public:
    enum Result {
        kAcquired,    // no other holder: whatever is mounted is stale
        kAbandoned,   // the last holder died holding it: its mount is stale
        kBusy,        // another live holder kept it for the whole wait
        kStopped,     // the caller's stop flag was set during the wait
        kFailed       // no lock object could be made
    };
    CHiveMountLock() = default;
    ~CHiveMountLock();
    CHiveMountLock(const CHiveMountLock&) = delete;
    CHiveMountLock& operator=(const CHiveMountLock&) = delete;

    // timeoutMs may be INFINITE. With a stop flag the wait goes in slices of
    // kStopSliceMs and ends (kStopped) once the flag is set.
    Result Acquire(DWORD timeoutMs, const volatile bool* stop = nullptr);
    static const DWORD kStopSliceMs = 200;
    void Release();
    bool Owned() const { return m_owned; }

    static const char* const kGlobalName;   // "Global\\Velmora TEMP_HIVE"
    static const char* const kLocalName;    // the session's own, when the global one is refused

private:
    HANDLE m_mutex = nullptr;
    bool m_owned = false;
};

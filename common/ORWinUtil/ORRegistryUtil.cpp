#include "ORRegistryUtil.h"

#include <shlwapi.h>
#include <cstring>
#include <vector>

#include "Handles.h"
#include "Log.h"

const char* const kProductKey = "Software\\Orridge\\Velmora";
const char* const ORRegistryUtil::kMountName = "TEMP_HIVE";
DWORD ORRegistryUtil::s_mountWaitMs = 30000;
const char* const CHiveMountLock::kGlobalName = "Global\\Velmora TEMP_HIVE";
const char* const CHiveMountLock::kLocalName = "Velmora TEMP_HIVE";

namespace {
// Where a restore keeps the incoming tree and the tree it replaces while it
// works, under the same root as the key being restored. Both are removed
// before RestoreRegKeyPath returns.
const char* const kIncomingKey = "Software\\Orridge\\Velmora\\Restore Incoming";
const char* const kSafetyKey = "Software\\Orridge\\Velmora\\Restore Safety Copy";
// Set on the product key once the safety copy is complete and before the
// target is touched; names the target key. While it is there the safety copy
// (or, when there is none, the target's absence) is the only good state of the
// target: it is put back before anything else, never deleted first.
const char* const kSafetyTargetValue = "Restore Safety Target";

// Both privileges for the duration of a hive operation.
class CPrivilegeScope {
public:
    CPrivilegeScope(const char* first, const char* second) : m_first(first), m_second(second) {
        ORRegistryUtil::EnablePrivilege(m_first, true);
        if (m_second) ORRegistryUtil::EnablePrivilege(m_second, true);
    }
    ~CPrivilegeScope() {
        ORRegistryUtil::EnablePrivilege(m_first, false);
        if (m_second) ORRegistryUtil::EnablePrivilege(m_second, false);
    }

private:
    const char* m_first;
    const char* m_second;
};

// Copies root\source over a freshly created root\target (target deleted first).
LONG ReplaceTree(HKEY root, const char* target, HKEY source) {
    LONG rc = ORRegistryUtil::DeleteRegKeyTree(root, target);
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return rc;
    CKey created;
    rc = created.Create(root, target, KEY_ALL_ACCESS);
    if (rc != ERROR_SUCCESS) return rc;
    return ORRegistryUtil::CopyRegKeyTree(created, source);
}

bool ReadSafetyTarget(HKEY root, std::string& target) {
    char buffer[ORRegistryUtil::kNameBytes + 1] = {};
    DWORD size = ORRegistryUtil::kNameBytes, type = 0;
    CKey product;
    if (product.Open(root, kProductKey, KEY_READ) != ERROR_SUCCESS) return false;
    if (RegQueryValueExA(product, kSafetyTargetValue, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ || !buffer[0])
        return false;
    target = buffer;
    return true;
}

LONG WriteSafetyTarget(HKEY root, const char* subKey) {
    CKey product;
    LONG rc = product.Create(root, kProductKey, KEY_ALL_ACCESS);
    if (rc != ERROR_SUCCESS) return rc;
    return RegSetValueExA(product, kSafetyTargetValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(subKey),
                          static_cast<DWORD>(strlen(subKey) + 1));
}

// The marker goes first: a safety copy without it is never put back.
void DiscardSafetyCopy(HKEY root) {
    CKey product;
    if (product.Open(root, kProductKey, KEY_SET_VALUE) == ERROR_SUCCESS) RegDeleteValueA(product, kSafetyTargetValue);
    product.Close();
    ORRegistryUtil::DeleteRegKeyTree(root, kSafetyKey);
}

// Puts the target named by the marker back to the state kept aside; true when
// it is back (or nothing was pending). The safety copy stays on failure.
bool PutBackSafetyCopy(HKEY root) {
    std::string target;
    if (!ReadSafetyTarget(root, target)) return true;
    CKey safety;
    LONG rc;
    if (safety.Open(root, kSafetyKey, KEY_READ) == ERROR_SUCCESS) {
        rc = ReplaceTree(root, target.c_str(), safety);
    } else {
        rc = ORRegistryUtil::DeleteRegKeyTree(root, target.c_str());   // there was no target before
        if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_SUCCESS;
    }
    safety.Close();
    if (rc != ERROR_SUCCESS) {
        LOG_ERROR("Failed to put back the key %s from %s with error = %d; the copy is kept.", target.c_str(),
                  kSafetyKey, static_cast<int>(rc));
        return false;
    }
    LOG_ERROR("The key %s was put back from the copy an interrupted restore left.", target.c_str());
    DiscardSafetyCopy(root);
    return true;
}

LONG QueryValue(HKEY root, const char* subKey, const char* valueName, DWORD* type, BYTE* data, DWORD* dataSize,
                bool optional) {
    CKey key;
    LONG rc = key.Open(root, subKey, KEY_READ);
    if (rc != ERROR_SUCCESS) {
        if (!optional || rc != ERROR_FILE_NOT_FOUND) LOG_ERROR("RegOpenKeyEx call has failed.");
        return rc;
    }
    return RegQueryValueExA(key, valueName, nullptr, type, data, dataSize);
}
}  // namespace

LONG ORRegistryUtil::QueryRegValue(HKEY root, const char* subKey, const char* valueName,
                                   DWORD* type, BYTE* data, DWORD* dataSize) {
    return QueryValue(root, subKey, valueName, type, data, dataSize, false);
}

LONG ORRegistryUtil::SetRegValue(HKEY root, const char* subKey, const char* valueName, DWORD type,
                                 const BYTE* data, DWORD dataSize) {
    CKey key;
    LONG rc = key.Open(root, subKey, KEY_ALL_ACCESS);
    if (rc != ERROR_SUCCESS) {
        LOG_ERROR("RegOpenKeyEx call has failed with error = %d.", static_cast<int>(rc));
        return rc;
    }
    rc = RegSetValueExA(key, valueName, 0, type, data, dataSize);
    if (rc != ERROR_SUCCESS) LOG_ERROR("RegSetValueEx call has failed with error = %d.", static_cast<int>(rc));
    return rc;
}

bool ORRegistryUtil::ReadStringFromRegistry(HKEY root, const char* subKey, const char* valueName,
                                            std::string& value, bool optional) {
    char buffer[kStringBytes + 1] = {};   // one spare byte keeps a full 256-byte value terminated
    DWORD size = kStringBytes;
    DWORD type = 0;
    if (QueryValue(root, subKey, valueName, &type, reinterpret_cast<BYTE*>(buffer), &size, optional) !=
        ERROR_SUCCESS) {
        OutputDebugStringA("ReadStringFromRegistry has failed.\n");
        return false;
    }
    value = buffer;
    return true;
}

bool ORRegistryUtil::ReadDwordFromRegistry(HKEY root, const char* subKey, const char* valueName,
                                           DWORD& value, bool optional) {
    DWORD data = 0, size = sizeof(data), type = 0;
    if (QueryValue(root, subKey, valueName, &type, reinterpret_cast<BYTE*>(&data), &size, optional) !=
        ERROR_SUCCESS)
        return false;
    value = data;
    return true;
}

bool ORRegistryUtil::WriteDwordToRegistry(HKEY root, const char* subKey, const char* valueName,
                                          DWORD value) {
    return SetRegValue(root, subKey, valueName, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                       sizeof(value)) == ERROR_SUCCESS;
}

bool ORRegistryUtil::RegKeyExists(HKEY root, const char* subKey) {
    if (!root || !subKey || !*subKey) return false;
    CKey key;
    return key.Open(root, subKey, KEY_READ) == ERROR_SUCCESS;
}

bool ORRegistryUtil::FileExists(const char* path) {
    WIN32_FIND_DATAA data;
    CFindHandle find;
    return find.First(path, data);
}

bool ORRegistryUtil::EnablePrivilege(const char* name, bool enable) {
    HANDLE rawToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &rawToken))
        return false;
    CHandle token(rawToken);
    TOKEN_PRIVILEGES privileges = {};
    if (!LookupPrivilegeValueA(nullptr, name, &privileges.Privileges[0].Luid)) return false;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
    SetLastError(ERROR_SUCCESS);
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    return GetLastError() == ERROR_SUCCESS;
}

bool ORRegistryUtil::SaveRegKeyPath(HKEY root, const char* subKey, const char* hivePath) {
    CPrivilegeScope privileges(SE_BACKUP_NAME, nullptr);
    CKey key;
    if (key.Open(root, subKey, KEY_READ) != ERROR_SUCCESS) return false;
    if (FileExists(hivePath) && !DeleteFileA(hivePath)) return false;
    return RegSaveKeyA(key, hivePath, nullptr) == ERROR_SUCCESS;
}

bool ORRegistryUtil::RestoreRegKeyPath(HKEY root, const char* subKey, const char* hivePath,
                                       const volatile bool* stop) {
    CPrivilegeScope privileges(SE_RESTORE_NAME, SE_BACKUP_NAME);
    if (!subKey || !*subKey || !FileExists(hivePath)) return false;
    // The mount is machine-wide: another instance restoring right now keeps
    // its hive there, and only a holder that died leaves one to clear away.
    CHiveMountLock lock;
    switch (lock.Acquire(s_mountWaitMs, stop)) {
    case CHiveMountLock::kBusy:
        LOG_ERROR("Another restore kept the registry mount %s busy; the key %s is left as it was.", kMountName,
                  subKey);
        return false;
    case CHiveMountLock::kStopped:
        LOG_ERROR("The restore was cancelled while another restore kept the registry mount %s busy; the key %s is "
                  "left as it was.",
                  kMountName, subKey);
        return false;
    case CHiveMountLock::kFailed:
        LOG_ERROR("No lock on the registry mount %s; the key %s is left as it was.", kMountName, subKey);
        return false;
    case CHiveMountLock::kAbandoned:   // its mount, if any, is cleared below
    case CHiveMountLock::kAcquired:
        break;
    }
    // A restore that was killed or could not roll back left the only copy of
    // a key aside: it goes back first, and nothing else is done until it has.
    if (!PutBackSafetyCopy(root)) return false;

    // With the lock held, whatever is mounted was left by a restore that is
    // gone, and it would block every later one. (The lock of a killed holder
    // may already have been taken over at plug-in start.)
    LONG rc = UnloadHive(kMountName);
    if (rc == ERROR_SUCCESS)
        LOG_ERROR("A restore that was stopped left the registry mount %s behind; it is removed.", kMountName);

    // 1. Bring the hive's tree into the registry beside the target. Until this
    //    has fully worked, nothing of the target has been touched.
    DeleteRegKeyTree(root, kIncomingKey);
    rc = RegLoadKeyA(HKEY_USERS, kMountName, hivePath);
    if (rc != ERROR_SUCCESS) {
        UnloadHive(kMountName);   // a failed load can still leave the mount behind
        LOG_ERROR("Failed to load the hive of the key %s with error = %d; the key is left as it was.", subKey,
                  static_cast<int>(rc));
        return false;
    }
    {
        CKey mounted;
        rc = mounted.Open(HKEY_USERS, kMountName, KEY_READ);
        if (rc == ERROR_SUCCESS) rc = ReplaceTree(root, kIncomingKey, mounted);
    }
    const LONG unloaded = UnloadHive(kMountName);
    if (unloaded != ERROR_SUCCESS) {
        LOG_ERROR("Failed to unload the registry mount %s with error = %d; the key %s is left as it was.",
                  kMountName, static_cast<int>(unloaded), subKey);
        if (rc == ERROR_SUCCESS) rc = unloaded;
    }
    if (rc != ERROR_SUCCESS) {
        DeleteRegKeyTree(root, kIncomingKey);
        return false;
    }

    // 2. Keep the current tree, then replace it; put it back on failure.
    CKey current;
    bool hadCurrent = current.Open(root, subKey, KEY_READ) == ERROR_SUCCESS;
    DeleteRegKeyTree(root, kSafetyKey);
    if ((hadCurrent && ReplaceTree(root, kSafetyKey, current) != ERROR_SUCCESS) ||
        WriteSafetyTarget(root, subKey) != ERROR_SUCCESS) {
        DiscardSafetyCopy(root);
        DeleteRegKeyTree(root, kIncomingKey);
        return false;
    }
    current.Close();

    CKey incoming;
    rc = incoming.Open(root, kIncomingKey, KEY_READ);
    if (rc == ERROR_SUCCESS) rc = ReplaceTree(root, subKey, incoming);
    incoming.Close();
    DeleteRegKeyTree(root, kIncomingKey);
    if (rc == ERROR_SUCCESS) {
        DiscardSafetyCopy(root);
        return true;
    }
    LOG_ERROR("Failed to restore the key %s with error = %d.", subKey, static_cast<int>(rc));
    PutBackSafetyCopy(root);
    return false;
}

LONG ORRegistryUtil::UnloadHive(const char* mountName, DWORD waitMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        const LONG rc = RegUnLoadKeyA(HKEY_USERS, mountName);
        if (rc != ERROR_ACCESS_DENIED || GetTickCount() - start >= waitMs) return rc;
        Sleep(50);
    }
}

bool ORRegistryUtil::PutBackInterruptedRestore(HKEY root) {
    CHiveMountLock lock;
    // A safety copy under a live holder belongs to a restore still at work.
    if (lock.Acquire(0) == CHiveMountLock::kBusy) return true;
    return PutBackSafetyCopy(root);
}

LONG ORRegistryUtil::DeleteRegKeyTree(HKEY root, const char* subKey) {
    if (!subKey || !*subKey) return ERROR_BADKEY;
    CKey key;
    LONG rc = key.Open(root, subKey, DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE);
    if (rc != ERROR_SUCCESS) return rc;
    for (;;) {
        char name[kNameBytes] = {};
        DWORD nameSize = sizeof(name);
        rc = RegEnumKeyExA(key, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS) return rc;
        rc = DeleteRegKeyTree(key, name);
        if (rc != ERROR_SUCCESS) return rc;
    }
    key.Close();
    return RegDeleteKeyA(root, subKey);
}

LONG ORRegistryUtil::CopyRegKeyValues(HKEY sourceRoot, const char* sourceSubKey, HKEY target) {
    CKey source;
    LONG rc = source.Open(sourceRoot, sourceSubKey ? sourceSubKey : "", KEY_READ);
    if (rc != ERROR_SUCCESS) return rc;
    DWORD valueCount = 0, maxDataLength = 0;
    rc = RegQueryInfoKeyA(source, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &valueCount,
                          nullptr, &maxDataLength, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    std::vector<BYTE> data(maxDataLength + 1, 0);
    for (DWORD index = 0; index < valueCount; ++index) {
        char name[kNameBytes] = {};
        DWORD nameSize = sizeof(name);
        DWORD type = 0;
        DWORD dataSize = static_cast<DWORD>(data.size());
        rc = RegEnumValueA(source, index, name, &nameSize, nullptr, &type, data.data(), &dataSize);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS) return rc;
        rc = RegSetValueExA(target, name, 0, type, data.data(), dataSize);
        if (rc != ERROR_SUCCESS) return rc;
    }
    return ERROR_SUCCESS;
}

LONG ORRegistryUtil::CopyRegKeyTree(HKEY target, HKEY source) {
    LONG rc = CopyRegKeyValues(source, "", target);
    if (rc != ERROR_SUCCESS) return rc;
    for (DWORD index = 0;; ++index) {
        char name[kNameBytes] = {};
        char keyClass[kNameBytes] = {};
        DWORD nameSize = sizeof(name), classSize = sizeof(keyClass);
        rc = RegEnumKeyExA(source, index, name, &nameSize, nullptr, keyClass, &classSize, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        if (rc != ERROR_SUCCESS) return rc;
        CKey targetChild, sourceChild;
        rc = targetChild.Create(target, name, KEY_ALL_ACCESS, classSize ? keyClass : nullptr);
        if (rc == ERROR_SUCCESS) rc = sourceChild.Open(source, name, KEY_READ);
        if (rc == ERROR_SUCCESS) rc = CopyRegKeyTree(targetChild, sourceChild);
        if (rc != ERROR_SUCCESS) return rc;
    }
}

CHiveMountLock::~CHiveMountLock() {
    Release();
    if (m_mutex) CloseHandle(m_mutex);
}

CHiveMountLock::Result CHiveMountLock::Acquire(DWORD timeoutMs, const volatile bool* stop) {
    Release();
    if (!m_mutex) {
        // Made by another user's instance, the mutex may refuse the full access
        // CreateMutex asks for; waiting on it needs only SYNCHRONIZE.
        m_mutex = CreateMutexA(nullptr, FALSE, kGlobalName);
        if (!m_mutex && GetLastError() == ERROR_ACCESS_DENIED) m_mutex = OpenMutexA(SYNCHRONIZE, FALSE, kGlobalName);
        if (!m_mutex) {
            LOG_ERROR("Failed to create the mutex %s with error = %d; the session's own is used.", kGlobalName,
                      static_cast<int>(GetLastError()));
            m_mutex = CreateMutexA(nullptr, FALSE, kLocalName);
        }
        if (!m_mutex) {
            LOG_ERROR("Failed to create the mutex %s with error = %d.", kLocalName, static_cast<int>(GetLastError()));
            return kFailed;
        }
    }
    // GetTickCount wraps after 49 days; the unsigned difference does not mind.
    const DWORD start = GetTickCount();
    for (;;) {
        DWORD slice = timeoutMs;
        if (timeoutMs != INFINITE) {
            const DWORD elapsed = GetTickCount() - start;
            slice = elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
        }
        if (stop && slice > kStopSliceMs) slice = kStopSliceMs;
        switch (WaitForSingleObject(m_mutex, slice)) {
        case WAIT_OBJECT_0:
            m_owned = true;
            return kAcquired;
        case WAIT_ABANDONED:
            m_owned = true;
            return kAbandoned;
        case WAIT_TIMEOUT:
            break;
        default:
            return kFailed;
        }
        if (stop && *stop) return kStopped;
        if (timeoutMs != INFINITE && GetTickCount() - start >= timeoutMs) return kBusy;
    }
}

void CHiveMountLock::Release() {
    if (m_owned) ReleaseMutex(m_mutex);
    m_owned = false;
}

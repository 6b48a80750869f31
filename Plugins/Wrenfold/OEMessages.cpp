#include "OEItems.h"

#include <cstring>

#include "FileUtil.h"
#include "Handles.h"
#include "Log.h"
#include "ORRegistryUtil.h"
#include "Unzipper.h"

namespace {
const DWORD kDataBytes = 1024;
const char* const kStoreKey = "\\Software\\Microsoft\\Outlook Express\\5.0";
// Where an archived identity key is mounted while its store root is read.
const char* const kUndoMount = "VELMORA_UNDO_PLAN";

// The store root named by an archived identity key.
bool ReadArchivedStoreFolder(CUnzipper& archive, const std::string& entry, std::string& folder) {
    CExtractedHive hive;
    const char* failure = nullptr;
    if (!hive.Extract(archive, entry, &failure)) return false;
    // Mounts of every running instance go under one lock: without it, one
    // restore's clean-up below would unload another's mount while it reads.
    CHiveMountLock lock;
    const CHiveMountLock::Result locked = lock.Acquire(ORRegistryUtil::s_mountWaitMs, archive.StopFlag());
    if (locked != CHiveMountLock::kAcquired && locked != CHiveMountLock::kAbandoned) {
        LOG_ERROR("No lock on the registry mount %s; the archived store folder is not read.", kUndoMount);
        return false;
    }
    for (const char* privilege : {SE_RESTORE_NAME, SE_BACKUP_NAME}) ORRegistryUtil::EnablePrivilege(privilege, true);
    ORRegistryUtil::UnloadHive(kUndoMount);   // left behind by an interrupted run
    bool found = false;
    if (RegLoadKeyA(HKEY_USERS, kUndoMount, hive.Path()) == ERROR_SUCCESS) {
        found = COEMessages::FindStoreFolderIn(HKEY_USERS, kUndoMount, folder);
        const LONG rc = ORRegistryUtil::UnloadHive(kUndoMount);
        if (rc != ERROR_SUCCESS)
            LOG_ERROR("Failed to unload the registry mount %s with error = %d.", kUndoMount, static_cast<int>(rc));
    }
    for (const char* privilege : {SE_RESTORE_NAME, SE_BACKUP_NAME}) ORRegistryUtil::EnablePrivilege(privilege, false);
    return found;
}
}  // namespace

bool COEMessages::FindStoreFolder(const std::string& id, std::string& folder) {
    return FindStoreFolderIn(HKEY_CURRENT_USER, "Identities\\" + id, folder);
}

bool COEMessages::FindStoreFolderIn(HKEY root, const std::string& identityKey, std::string& folder) {
    const std::string keyPath = identityKey + kStoreKey;
    CKey key;
    if (key.Open(root, keyPath.c_str(), KEY_READ) != ERROR_SUCCESS) {
        LOG_ERROR("RegOpenKeyEx call failed.");
        return false;
    }
    DWORD values = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS) {
        LOG_ERROR("RegQueryInfoKey call failed.");
        return false;
    }
    for (DWORD index = 0; index < values; ++index) {
        char name[kDataBytes] = {};
        char data[kDataBytes + 1] = {};
        DWORD nameSize = sizeof(name), dataSize = kDataBytes, type = 0;
        if (RegEnumValueA(key, index, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataSize) !=
                ERROR_SUCCESS ||
            strcmp(name, "Store Root") != 0)
            continue;
        folder = data;
        if (folder.find("%SystemDrive%") != std::string::npos || folder.find("%UserProfile%") != std::string::npos) {
            char expanded[kDataBytes] = {};
            DWORD length = ExpandEnvironmentStringsA(data, expanded, sizeof(expanded));
            if (length == 0 || length > sizeof(expanded)) {
                LOG_ERROR("Failed to expand the store folder %s.", data);
                return false;
            }
            folder = expanded;
        }
        return true;
    }
    return false;
}

bool COEMessages::Backup(std::string folder, CZipper* zipper, WorkerContext* context) {
    std::string store;
    if (!zipper || !FindStoreFolder(m_id, store)) return false;
    return BackupDataFolder(LOG_SITE, store, folder, *zipper, context);
}

ULONGLONG COEMessages::BackupSourceBytes() {
    std::string store;
    return FindStoreFolder(m_id, store) ? FolderTreeBytes(store.c_str()) : 0;
}

bool COEMessages::Restore(std::string, CUnzipper* unzipper, WorkerContext* context) {
    // The store root came back with the identity's key, out of the archive.
    static const FolderTexts texts = {"The identity's store folder is not known; no message file is restored.",
                                      "Refused to restore messages into the store folder %s: %s",
                                      "No message file of the identity is restored."};
    return RestoreIntoDataFolder(
        LOG_SITE, unzipper, [this](std::string& store) { return FindStoreFolder(m_id, store); }, texts, context);
}

void COEMessages::PlanUndo(CUndoPlan& plan, CUnzipper& archive, const std::string& identityEntry,
                           const std::string& containerFolder) const {
    std::string store;
    const char* reason = nullptr;
    // Where the archived key sends the files; failing that, where the
    // identity's key now sends them, which is where a restore whose key was
    // refused writes them.
    if (!ReadArchivedStoreFolder(archive, identityEntry, store) && !FindStoreFolder(m_id, store)) return;
    if (!IsAcceptableRestoreFolder(store, &reason)) return;   // the restore writes no message file either
    for (const auto& entry : Entries())
        if (CUnzipper::IsSafeEntryName(entry.second.c_str()))
            plan.AddFile(containerFolder + "\\Messages\\" + entry.second, store + "\\" + entry.second);
}

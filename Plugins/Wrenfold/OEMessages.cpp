#include "OEItems.h"

#include <cstring>

#include "Handles.h"
#include "Log.h"

namespace {
const DWORD kDataBytes = 1024;
}

bool COEMessages::FindStoreFolder(const std::string& id, std::string& folder) {
    const std::string keyPath = "Identities\\" + id + "\\Software\\Microsoft\\Outlook Express\\5.0";
    CKey key;
    if (key.Open(HKEY_CURRENT_USER, keyPath.c_str(), KEY_READ) != ERROR_SUCCESS) {
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

bool COEMessages::Restore(std::string, CUnzipper* unzipper, WorkerContext* context) {
    std::string store;
    if (!unzipper || !FindStoreFolder(m_id, store))
        return RefuseEntries(LOG_SITE, "The identity's store folder is not known; no message file is restored.");
    // The store root came back with the identity's key, out of the archive.
    const char* reason = nullptr;
    if (!IsAcceptableRestoreFolder(store, &reason)) {
        LOG_ERROR("Refused to restore messages into the store folder %s: %s", store.c_str(), reason);
        return RefuseEntries(LOG_SITE, "No message file of the identity is restored.");
    }
    return RestoreEntries(LOG_SITE, store, *unzipper, context);
}

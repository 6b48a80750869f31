#include "OEItems.h"

#include <cstring>

#include "Handles.h"
#include "Log.h"
#include "PlugInModule.h"
#include "ProgressDlg.h"
#include "FileUtil.h"
#include "Unzipper.h"
#include "Zipper.h"

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
    const std::string messages = folder + "\\Messages";
    if (!AddStagingFolder(messages, *zipper, "Failed to create Messages backup folder %s.")) {
        RecordItemFailure();
        return false;
    }
    if (!FolderExists(store.c_str())) {
        // A store the mail client never created holds nothing to save.
        LOG_INFO("The message store folder %s does not exist.", store.c_str());
        return false;
    }
    if (!CopyFolderToArchive(store, messages, *zipper, context, LoadPlugInString(kStringBackupMessages))) {
        LOG_ERROR("CopyFolder call failed.");
        if (!IsTerminationRequested(context)) RecordItemFailure();
        return false;
    }
    return true;
}

bool COEMessages::Restore(std::string, CUnzipper* unzipper, WorkerContext* context) {
    std::string store;
    if (!unzipper || !FindStoreFolder(m_id, store)) {
        if (!m_entries.empty()) RecordItemFailure();
        return false;
    }
    if (!CreateFolderPath(store.c_str())) LOG_ERROR("Failed to create a folder %s", store.c_str());
    const std::string status = LoadPlugInString(kStringRestoreMessages);
    bool ok = !m_entries.empty();
    for (const auto& entry : m_entries) {
        if (IsTerminationRequested(context)) return false;
        bool restored = false;
        if (!CUnzipper::IsSafeEntryName(entry.second.c_str())) {
            LOG_ERROR("Refused to restore the unsafe entry %s.", entry.first.c_str());
        } else if (!unzipper->GotoFile(entry.first.c_str(), false)) {
            LOG_ERROR("CUnzipper::GotoFile call failed.");
        } else if (!unzipper->UnzipFileTo((store + "\\" + entry.second).c_str())) {
            LOG_ERROR("CUnzipper::UnzipFile call failed.");
        } else {
            restored = true;
            ProgressStep(context, status);
        }
        if (!restored) {
            LOG_ERROR("Failed to restore %s.", entry.first.c_str());
            RecordItemFailure();
            ok = false;
        }
    }
    return ok;
}

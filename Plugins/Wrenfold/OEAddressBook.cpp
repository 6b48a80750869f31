#include "OEItems.h"

#include <shlobj.h>

#include "Handles.h"
#include "Log.h"
#include "ORRegistryUtil.h"
#include "PlugInModule.h"
#include "Unzipper.h"
#include "Zipper.h"

namespace {
const char* const kFileNameKey = "Software\\Microsoft\\WAB\\WAB4\\Wab File Name";
const char* const kSettingsKey = "Software\\Microsoft\\WAB";

std::string AfterLastBackslash(const std::string& path) {
    size_t slash = path.rfind('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The location is set (though perhaps too long to read): the mail client has
// been opened before.
bool HasFileLocationValue() {
    CKey key;
    DWORD size = 0;
    return key.Open(HKEY_CURRENT_USER, kFileNameKey, KEY_QUERY_VALUE) == ERROR_SUCCESS &&
           RegQueryValueExA(key, "", nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS && size > 1;
}

bool WriteFileLocation(const std::string& path) {
    CKey key;
    LONG rc = key.Create(HKEY_CURRENT_USER, kFileNameKey, KEY_SET_VALUE);
    if (rc == ERROR_SUCCESS)
        rc = RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                            static_cast<DWORD>(path.size() + 1));
    if (rc != ERROR_SUCCESS) LOG_ERROR("Failed to set the WAB file location %s with error %d.", path.c_str(), static_cast<int>(rc));
    return rc == ERROR_SUCCESS;
}
}  // namespace

bool COEAddressBook::ReadFileLocation(std::string& path) {
    if (ORRegistryUtil::ReadStringFromRegistry(HKEY_CURRENT_USER, kFileNameKey, "", path) && !path.empty())
        return true;
    LOG_ERROR("Failed to find WAB file location. Outlook Express must have never been opened before.");
    return false;
}

void COEAddressBook::FindFile() {
    if (ReadFileLocation(m_filePath)) m_fileName = AfterLastBackslash(m_filePath);
}

bool COEAddressBook::Backup(std::string folder, CZipper* zipper, WorkerContext* context) {
    if (!zipper) return false;
    const std::string book = folder + "\\AddressBook";
    const std::string copy = book + "\\" + m_fileName;
    const std::string settings = book + "\\WAB.txt";
    if (!AddStagingFolder(LOG_SITE, book, *zipper, "Failed to create AddressBook backup folder %s.")) {
        RecordItemFailure();
        return false;
    }
    if (m_fileName.empty() || !CopyFileA(m_filePath.c_str(), copy.c_str(), FALSE)) {
        DWORD error = m_fileName.empty() ? ERROR_FILE_NOT_FOUND : GetLastError();
        LOG_ERROR("Failed to copy WAB file.");
        // A file that is not there holds nothing to save; one that cannot be
        // read is a failure.
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) RecordItemFailure();
        return false;
    }
    bool ok = true;
    if (!zipper->AddFile(copy.c_str(), false)) {
        LOG_ERROR("Failed to add a file to zip file.");
        ok = false;
    } else if (!ORRegistryUtil::SaveRegKeyPath(HKEY_CURRENT_USER, kSettingsKey, settings.c_str())) {
        LOG_ERROR("ORRegistryUtil::SaveRegKeyPath call failed.");
        ok = false;
    } else if (!zipper->AddFile(settings.c_str(), false)) {
        LOG_ERROR("Failed to add a file to zip file.");
        ok = false;
    }
    return FinishItem(ok, context, kStringBackupAddressBook);
}

void COEAddressBook::AddAddressBookEntry(const ZipEntryInfo& entry) {
    if (m_ledger.Claim("Address Book", entry)) m_entry = entry.name;
}

bool COEAddressBook::FindRestoreTarget(std::string& path, bool& isNew) const {
    std::string current, folder;
    isNew = false;
    if (ORRegistryUtil::ReadStringFromRegistry(HKEY_CURRENT_USER, kFileNameKey, "", current) && !current.empty()) {
        size_t slash = current.rfind('\\');
        folder = slash == std::string::npos ? current : current.substr(0, slash);
    } else if (HasFileLocationValue()) {
        LOG_ERROR("Failed to find WAB file location. Outlook Express must have never been opened before.");
        return false;
    } else {
        // A system where the mail client never ran: the address book goes
        // where the mail client would have made it.
        char appData[MAX_PATH] = {};
        if (!SHGetSpecialFolderPathA(nullptr, appData, CSIDL_APPDATA, TRUE)) {
            LOG_ERROR("SHGetSpecialFolderPath call failed.");
            return false;
        }
        folder = std::string(appData) + "\\Microsoft\\Address Book";
        isNew = true;
    }
    const char* reason = nullptr;
    if (!IsAcceptableRestoreFolder(folder, &reason)) {
        LOG_ERROR("Refused to restore the address book into %s: %s", folder.c_str(), reason);
        return false;
    }
    path = folder + "\\" + AfterLastBackslash(m_entry);
    return true;
}

bool COEAddressBook::Restore(std::string, CUnzipper* unzipper, WorkerContext* context) {
    bool ok = m_ledger.ReportSkipped(LOG_SITE);
    if (m_entry.empty()) {
        // The backup found no address book file; there is nothing to put back.
        LOG_ERROR("CUnzipper::GotoFile call failed.");
        return false;
    }
    std::string target;
    bool isNew = false;
    if (!unzipper || !FindRestoreTarget(target, isNew)) {
        ok = false;   // logged
    } else if (!unzipper->GotoFile(m_entry.c_str(), false)) {
        LOG_ERROR("CUnzipper::GotoFile call failed.");
        ok = false;
    } else if (!CUnzipper::IsSafeEntryName(AfterLastBackslash(m_entry).c_str())) {
        LOG_ERROR("Refused to restore the unsafe entry %s.", m_entry.c_str());
        ok = false;
    } else if (!unzipper->UnzipFileTo(target.c_str())) {
        LOG_ERROR("CUnzipper::UnzipFile call failed.");
        ok = false;
    } else if (isNew) {
        LOG_INFO("No address book location was set; the address book is restored to %s.", target.c_str());
        ok = WriteFileLocation(target) && ok;
    }
    return FinishItem(ok, context, kStringRestoreAddressBook);
}

void COEAddressBook::PlanUndo(CUndoPlan& plan, CUnzipper&) {
    std::string target;
    bool isNew = false;
    // A name the restore refuses (a device name, a stream) is not opened here either.
    if (m_entry.empty() || !CUnzipper::IsSafeEntryName(AfterLastBackslash(m_entry).c_str()) ||
        !FindRestoreTarget(target, isNew))
        return;
    plan.AddFile("AddressBook\\" + AfterLastBackslash(m_entry), target);
    // Where none was set the restore writes the location; no item of the
    // undo's own restore puts that key back.
    if (isNew) plan.AddKeyKeptAside(kFileNameKey);
}

#include "OEItems.h"

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
    if (!AddStagingFolder(book, *zipper, "Failed to create AddressBook backup folder %s.")) {
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

bool COEAddressBook::Restore(std::string, CUnzipper* unzipper, WorkerContext* context) {
    if (m_entry.empty()) {
        // The backup found no address book file; there is nothing to put back.
        LOG_ERROR("CUnzipper::GotoFile call failed.");
        return false;
    }
    std::string current;
    bool ok = false;
    if (!unzipper || !ReadFileLocation(current)) {
        // logged
    } else if (!unzipper->GotoFile(m_entry.c_str(), false)) {
        LOG_ERROR("CUnzipper::GotoFile call failed.");
    } else {
        size_t slash = current.rfind('\\');
        std::string folder = slash == std::string::npos ? current : current.substr(0, slash);
        std::string name = AfterLastBackslash(m_entry);
        if (!CUnzipper::IsSafeEntryName(name.c_str()))
            LOG_ERROR("Refused to restore the unsafe entry %s.", m_entry.c_str());
        else if (!unzipper->UnzipFileTo((folder + "\\" + name).c_str()))
            LOG_ERROR("CUnzipper::UnzipFile call failed.");
        else
            ok = true;
    }
    return FinishItem(ok, context, kStringRestoreAddressBook);
}

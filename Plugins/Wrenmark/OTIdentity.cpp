#include "OTItems.h"

#include "Handles.h"
#include "Log.h"
#include "ORRegistryUtil.h"
#include "Unzipper.h"

const char* const kProfileRoots[2] = {
    "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles",
    "Software\\Microsoft\\Windows Messaging Subsystem\\Profiles",
};

COTIdentity::COTIdentity(const std::string& name, const std::string& root)
    : CIdentityBase(name), m_keyPath(root + "\\" + name) {}

COTIdentity::COTIdentity(const std::string& folderName) : CIdentityBase(folderName) {}

bool COTIdentity::BackupOwnData(const std::string& parentFolder, CZipper& zipper, std::string& ownFolder) {
    ownFolder = parentFolder + "\\" + GetFolderName();
    // Not counted as a failure: the key the restore would use is saved.
    for (const std::string& skipped : m_keysNotBackedUp)
        LOG_ERROR("The profile key HKEY_CURRENT_USER\\%s is not backed up: the profile of the same name under "
                  "HKEY_CURRENT_USER\\%s is, and a restore puts back one profile of a name.",
                  skipped.c_str(), m_keyPath.c_str());
    return BackupKeyFolder(LOG_SITE, ownFolder, m_keyPath, zipper);
}

bool COTIdentity::RestoreOwnData(CUnzipper& unzipper) {
    Ledger().ReportSkipped(LOG_SITE);   // its failures are recorded; the items still go on
    // An undo archive holds no key for a profile the undone restore added
    // (that key is removed afterwards); the profile's items still go back.
    if (m_identityEntry.empty() && IsUndoing()) return true;
    CExtractedHive hive;
    const char* failure = nullptr;
    if (!hive.Extract(unzipper, m_identityEntry, &failure)) {
        LOG_ERROR("%s", failure);
        return false;
    }
    for (const char* root : kProfileRoots) {
        {
            CKey key;
            if (key.Open(HKEY_CURRENT_USER, root, KEY_ALL_ACCESS) != ERROR_SUCCESS) continue;
        }
        const std::string keyPath = std::string(root) + "\\" + GetFolderName();
        // A refused tree leaves the key under this root as it was.
        if (ORRegistryUtil::RestoreRegKeyPath(HKEY_CURRENT_USER, keyPath.c_str(), hive.Path(), unzipper.StopFlag()))
            return true;
    }
    LOG_ERROR("Failed to store Outlook Profile registry keys.");
    return false;
}

void COTIdentity::PlanUndo(CUndoPlan& plan, CUnzipper&) {
    // The restore tries the roots in order and writes the first that takes
    // the key: the first root that exists keeps the archive's usual entry,
    // any later one is kept aside.
    bool first = true;
    for (const char* root : kProfileRoots) {
        if (!ORRegistryUtil::RegKeyExists(HKEY_CURRENT_USER, root)) continue;
        const std::string keyPath = std::string(root) + "\\" + GetFolderName();
        if (first) plan.AddKey(GetFolderName() + "\\Identity.txt", keyPath);
        else plan.AddKeyKeptAside(keyPath);
        first = false;
    }
    for (CBackupItem* item : *GetItems()) {
        if (!item->IsEnabled()) continue;
        if (COTAccounts* accounts = dynamic_cast<COTAccounts*>(item)) accounts->PlanUndo(plan, GetFolderName());
        if (COTMessages* messages = dynamic_cast<COTMessages*>(item)) messages->PlanUndo(plan, GetFolderName());
    }
}

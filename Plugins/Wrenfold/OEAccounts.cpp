#include "OEItems.h"

#include "Handles.h"
#include "Log.h"
#include "ORRegistryUtil.h"
#include "PlugInModule.h"
#include "Zipper.h"

namespace {
const char* const kSharedAccounts = "Software\\Microsoft\\Internet Account Manager\\Accounts";
}

bool COEAccounts::ChooseKey(std::string& keyPath, LONG& error) const {
    CKey key;
    keyPath = kSharedAccounts;
    if (key.Open(HKEY_CURRENT_USER, keyPath.c_str(), KEY_READ) == ERROR_SUCCESS) return true;
    std::string own = "Identities\\" + m_id + "\\" + kSharedAccounts;
    error = key.Open(HKEY_CURRENT_USER, own.c_str(), KEY_READ);
    if (error != ERROR_SUCCESS) return false;
    keyPath = own;
    return true;
}

bool COEAccounts::Backup(std::string folder, CZipper* zipper, WorkerContext* context) {
    std::string keyPath;
    LONG error = ERROR_SUCCESS;
    if (!zipper) return false;
    if (!ChooseKey(keyPath, error)) {
        // No accounts on this system: nothing to save.
        LOG_ERROR("RegOpenKeyEx call failed with %d.", static_cast<int>(error));
        return false;
    }
    const std::string accounts = folder + "\\Accounts";
    const std::string file = accounts + "\\Accounts.txt";
    bool ok = AddStagingFolder(LOG_SITE, accounts, *zipper, "Failed to create Accounts backup folder %s.");
    if (ok && !ORRegistryUtil::SaveRegKeyPath(HKEY_CURRENT_USER, keyPath.c_str(), file.c_str())) {
        LOG_ERROR("ORRegistryUtil::SaveRegKeyPath call failed.");
        ok = false;
    }
    if (ok && !zipper->AddFile(file.c_str(), false)) {
        LOG_ERROR("Failed to add %s to zip file.", file.c_str());
        ok = false;
    }
    return FinishItem(ok, context, kStringBackupAccounts);
}

bool COEAccounts::Restore(std::string, CUnzipper* unzipper, WorkerContext* context) {
    std::string keyPath;
    LONG error = ERROR_SUCCESS;
    if (!ChooseKey(keyPath, error)) keyPath = kSharedAccounts;
    const char* failure = nullptr;
    bool ok = unzipper && RestoreKeyFromEntry(*unzipper, m_entry, HKEY_CURRENT_USER, keyPath, &failure);
    if (!ok) LOG_ERROR("%s", failure ? failure : "Failed to restore Accounts registry.");
    ok = Ledger().ReportSkipped(LOG_SITE) && ok;
    return FinishItem(ok, context, kStringRestoreAccounts);
}

void COEAccounts::PlanUndo(CUndoPlan& plan, const std::string& containerFolder) const {
    // The shared key, or its absence: an identity's own key is kept with the
    // identity's key.
    if (!m_entry.empty()) plan.AddKey(containerFolder + "\\Accounts\\Accounts.txt", kSharedAccounts);
}

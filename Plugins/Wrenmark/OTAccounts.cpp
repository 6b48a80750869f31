#include "OTItems.h"

#include "Log.h"
#include "ORRegistryUtil.h"
#include "Zipper.h"

namespace {
const char* const kAccountKey = "Software\\Microsoft\\Office\\Outlook\\OMI Account Manager";
}

bool COTAccounts::Backup(std::string folder, CZipper* zipper, WorkerContext*) {
    if (!zipper) return false;
    const std::string accounts = folder + "\\Accounts";
    const std::string file = accounts + "\\Account.txt";
    if (!AddStagingFolder(LOG_SITE, accounts, *zipper, "Failed to create Accounts backup folder %s.")) {
        RecordItemFailure();
        return false;
    }
    if (!ORRegistryUtil::SaveRegKeyPath(HKEY_CURRENT_USER, kAccountKey, file.c_str())) {
        LOG_ERROR("Failed to backup account registry key.");
        // Without the key Outlook has no Internet accounts: nothing to save.
        if (!ORRegistryUtil::RegKeyExists(HKEY_CURRENT_USER, kAccountKey)) return true;
        RecordItemFailure();
        return false;
    }
    if (!zipper->AddFile(file.c_str(), false)) {
        LOG_ERROR("Failed to add a file to zip file %s.", file.c_str());
        RecordItemFailure();
        return false;
    }
    return true;
}

bool COTAccounts::Restore(std::string, CUnzipper* unzipper, WorkerContext*) {
    if (m_entry.empty()) {
        // The backup found no account key; the current one is left alone.
        LOG_ERROR("Account registry file is not found.");
        return false;
    }
    bool ok = Ledger().ReportSkipped(LOG_SITE);
    const char* failure = nullptr;
    if (!unzipper || !RestoreKeyFromEntry(*unzipper, m_entry, HKEY_CURRENT_USER, kAccountKey, &failure)) {
        LOG_ERROR("%s", failure ? failure : "Failed to restore account registry key.");
        RecordItemFailure();
        return false;
    }
    return ok;
}

void COTAccounts::PlanUndo(CUndoPlan& plan, const std::string& containerFolder) const {
    if (!m_entry.empty()) plan.AddKey(containerFolder + "\\Accounts\\Account.txt", kAccountKey);
}

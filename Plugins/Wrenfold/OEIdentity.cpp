#include "OEItems.h"

#include <cstring>

#include "Log.h"
#include "MailPlugIn.h"
#include "ORRegistryUtil.h"
#include "PlugInModule.h"

namespace {
const char* const kUserRoot = "HKEY_CURRENT_USER\\";

std::string KeyPathOf(const std::string& fullKeyName) {
    const size_t prefix = strlen(kUserRoot);
    return fullKeyName.compare(0, prefix, kUserRoot) == 0 ? fullKeyName.substr(prefix) : fullKeyName;
}

std::string ReadUserName(const std::string& keyPath) {
    std::string name;
    ORRegistryUtil::ReadStringFromRegistry(HKEY_CURRENT_USER, keyPath.c_str(), "Username", name);
    return name;
}
}  // namespace

COEIdentity::COEIdentity(const std::string& id, const std::string& fullKeyName)
    : CIdentityBase(ReadUserName(KeyPathOf(fullKeyName))),
      m_id(id),
      m_fullKeyName(fullKeyName),
      m_keyPath(KeyPathOf(fullKeyName)) {}

COEIdentity::COEIdentity(const std::string& id, const std::string& userName, const std::string& fullKeyName)
    : CIdentityBase(userName), m_id(id), m_fullKeyName(fullKeyName), m_keyPath(KeyPathOf(fullKeyName)) {}

bool COEIdentity::BackupOwnData(const std::string& parentFolder, CZipper& zipper, std::string& ownFolder) {
    ownFolder = parentFolder + "\\" + GetFolderName();
    return BackupKeyFolder(LOG_SITE, ownFolder, m_keyPath, zipper);
}

bool COEIdentity::RestoreOwnData(CUnzipper& unzipper) {
    Ledger().ReportSkipped(LOG_SITE);   // its failures are recorded; the items still go on
    // An undo archive holds no key for an identity the undone restore added
    // (that key is removed afterwards); the identity's items still go back.
    if (m_identityEntry.empty() && IsUndoing()) return true;
    const char* failure = nullptr;
    if (RestoreKeyFromEntry(unzipper, m_identityEntry, HKEY_CURRENT_USER, m_keyPath, &failure)) return true;
    LOG_ERROR("%s", failure ? failure : "Failed to store Identity registry key.");
    return false;
}

void COEIdentity::PlanUndo(CUndoPlan& plan, CUnzipper& archive) {
    plan.AddKey(GetFolderName() + "\\Identity.txt", m_keyPath);
    // The first current identity of this name goes once this one is back.
    for (CBackupIdentity* current : g_PlugIn.backupEngine->GetIdentityList()) {
        if (current->GetName() != GetName()) continue;
        if (COEIdentity* sameName = dynamic_cast<COEIdentity*>(current); sameName && sameName->GetId() != m_id)
            plan.AddKey(sameName->GetFolderName() + "\\Identity.txt", sameName->GetKeyPath());
        break;
    }
    for (CBackupItem* item : *GetItems()) {
        if (!item->IsEnabled()) continue;
        if (COEAccounts* accounts = dynamic_cast<COEAccounts*>(item)) accounts->PlanUndo(plan, GetFolderName());
        if (COEMessages* messages = dynamic_cast<COEMessages*>(item))
            messages->PlanUndo(plan, archive, m_identityEntry, GetFolderName());
    }
}

#include "OEDiscovery.h"

#include <shlwapi.h>

#include <vector>

#include "Handles.h"
#include "Log.h"
#include "MailPlugIn.h"
#include "OEItems.h"

namespace {
const DWORD kNameBytes = 1024;

bool IsIdentityFolder(const std::string& name) { return !name.empty() && name[0] == '{' && !SameName(name, "AddressBook"); }

COEIdentity* FindIdentity(CMailPlugIn& engine, const std::string& folderName) {
    for (CBackupIdentity* container : engine.GetIdentityList()) {
        COEIdentity* identity = dynamic_cast<COEIdentity*>(container);
        if (identity && identity->GetFolderName() == folderName) return identity;
    }
    return nullptr;
}

void CatalogueFolder(CMailPlugIn& engine, const std::vector<std::string>& parts) {
    if (parts.size() < 2) return;   // the top folder itself
    if (parts.size() == 2) {
        const std::string& folder = parts[1];
        if (!IsIdentityFolder(folder)) {
            engine.SetAddressBook(new COEAddressBook());
            return;
        }
        std::string id, userName;
        if (!SplitIdentityFolder(folder, id, userName)) {
            LOG_ERROR("Should never happen!");
            return;
        }
        engine.GetIdentityList().push_back(new COEIdentity(id, userName, "HKEY_CURRENT_USER\\Identities\\" + id));
        return;
    }
    if (parts.size() > 3) return;   // a sub-folder of a store comes back with its files
    COEIdentity* identity = FindIdentity(engine, parts[1]);
    if (!identity) {
        LOG_ERROR("Should never happen!");
    } else if (SameName(parts[2], "Messages")) {
        identity->AddItem(new COEMessages(identity->GetId()));
    } else if (SameName(parts[2], "Accounts")) {
        identity->AddItem(new COEAccounts(identity->GetId()));
    } else {
        LOG_ERROR("Should never happen!");
    }
}

void CatalogueFile(CMailPlugIn& engine, const std::string& name, const std::vector<std::string>& parts) {
    if (parts.size() < 3) return;   // the system summary and the like
    if (!IsIdentityFolder(parts[1])) {
        COEAddressBook* book = dynamic_cast<COEAddressBook*>(engine.GetAddressBook());
        if (!book || parts.size() != 3) {
            LOG_ERROR("Should never happen!");
        } else if (parts[2].find(".wab") != std::string::npos) {
            book->SetAddressBookEntry(name);
        } else if (parts[2].find(".txt") == std::string::npos) {
            LOG_ERROR("Should never happen!");
        }
        return;
    }
    COEIdentity* identity = FindIdentity(engine, parts[1]);
    if (!identity) {
        LOG_ERROR("Should never happen!");
        return;
    }
    if (parts.size() == 3 && parts[2] == "Identity.txt") {
        identity->SetIdentityEntry(name);
    } else if (parts.size() >= 4 && SameName(parts[2], "Messages")) {
        COEMessages* messages = FindLastItem<COEMessages>(*identity);
        if (messages) messages->AddEntry(name, JoinEntryParts(parts, 3));
        else LOG_ERROR("Should never happen!");
    } else if (parts.size() == 4 && SameName(parts[2], "Accounts")) {
        COEAccounts* accounts = FindLastItem<COEAccounts>(*identity);
        if (accounts) accounts->SetAccountsEntry(name);
        else LOG_ERROR("Should never happen!");
    }
}
}  // namespace

void BuildOEBackupList(CMailPlugIn& engine) {
    CKey identities;
    if (identities.Open(HKEY_CURRENT_USER, "Identities", KEY_ALL_ACCESS) != ERROR_SUCCESS) {
        LOG_ERROR("Open 'HKEY_CURRENT_USER\\Identities\\Identities' registry key failed.");
    } else if (RegQueryInfoKeyA(identities, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        LOG_ERROR("RegQueryInfoKey on 'HKEY_CURRENT_USER\\Identities\\Identities' failed.");
    } else {
        for (DWORD index = 0;; ++index) {
            char id[kNameBytes] = {};
            DWORD size = sizeof(id);
            if (RegEnumKeyExA(identities, index, id, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            COEIdentity* identity = new COEIdentity(id, std::string("HKEY_CURRENT_USER\\Identities\\") + id);
            identity->AddItem(new COEMessages(id));
            identity->AddItem(new COEAccounts(id));
            engine.GetIdentityList().push_back(identity);
        }
    }
    COEAddressBook* book = new COEAddressBook();
    book->FindFile();
    engine.SetAddressBook(book);
}

bool SplitIdentityFolder(const std::string& folder, std::string& id, std::string& userName) {
    size_t split = folder.find("}$");
    if (split != std::string::npos) {
        ++split;
    } else {
        split = folder.rfind('$');
        if (split == std::string::npos) return false;
    }
    id = folder.substr(0, split);
    userName = folder.substr(split + 1);
    return true;
}

void CatalogueOEEntry(CMailPlugIn& engine, const std::string& name, bool isFolder) {
    std::vector<std::string> parts;
    SplitEntryName(name, parts);
    if (isFolder) CatalogueFolder(engine, parts);
    else CatalogueFile(engine, name, parts);
}

bool RestoreOEContainer(CMailPlugIn& backupEngine, CBackupIdentity& container, const std::string& archive,
                        CUnzipper& unzipper, WorkerContext* context) {
    COEIdentity* sameName = nullptr;
    for (CBackupIdentity* current : backupEngine.GetIdentityList()) {
        if (current->GetName() == container.GetName()) {
            sameName = dynamic_cast<COEIdentity*>(current);
            break;
        }
    }
    if (!container.Restore(archive, &unzipper, context)) return false;   // the current identity stays
    COEIdentity* restored = dynamic_cast<COEIdentity*>(&container);
    if (sameName && restored && sameName->GetId() != restored->GetId()) {
        LONG rc = SHDeleteKeyA(HKEY_CURRENT_USER, sameName->GetKeyPath().c_str());
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
            LOG_ERROR("RegDeleteKey call failed with error %d.", static_cast<int>(rc));
    }
    return true;
}

#include "OEDiscovery.h"

#include <shlwapi.h>

#include <cstring>
#include <vector>

#include "Handles.h"
#include "Log.h"
#include "MailPlugIn.h"
#include "OEItems.h"
#include "Unzipper.h"

namespace {
const DWORD kNameBytes = 1024;

bool IsIdentityFolder(const std::string& name) { return !name.empty() && name[0] == '{' && !SameName(name, "AddressBook"); }

// The identity of that folder, made and appended when the archive names it
// for the first time (by a folder entry or by a file inside it). Folder names
// compare as the file system compares them: they are one folder.
COEIdentity* FindOrAddIdentity(CMailPlugIn& engine, const std::string& folderName) {
    for (CBackupIdentity* container : engine.GetIdentityList()) {
        COEIdentity* identity = dynamic_cast<COEIdentity*>(container);
        if (identity && SameName(identity->GetFolderName(), folderName.c_str())) return identity;
    }
    std::string id, userName;
    if (!SplitIdentityFolder(folderName, id, userName)) {
        LOG_ERROR("Should never happen!");
        return nullptr;
    }
    COEIdentity* identity = new COEIdentity(id, userName, "HKEY_CURRENT_USER\\Identities\\" + id);
    engine.GetIdentityList().push_back(identity);
    return identity;
}

COEAddressBook* FindOrAddAddressBook(CMailPlugIn& engine) {
    COEAddressBook* book = dynamic_cast<COEAddressBook*>(engine.GetAddressBook());
    if (!book) {
        book = new COEAddressBook();
        engine.SetAddressBook(book);
    }
    return book;
}

bool HasExtension(const std::string& name, const char* extension) {
    const size_t length = strlen(extension);
    return name.size() > length && SameName(name.substr(name.size() - length), extension);
}

// "<top>\AddressBook\...": the address book file is the first file whose name
// ends in ".wab", "WAB.txt" is kept in the archive only, anything else is a
// stray.
void CatalogueAddressBookEntry(CMailPlugIn& engine, const ZipEntryInfo& entry, const std::vector<std::string>& parts) {
    COEAddressBook* book = FindOrAddAddressBook(engine);
    if (entry.isFolder) return;
    if (parts.size() == 3 && HasExtension(parts[2], ".wab")) {
        book->AddAddressBookEntry(entry);
    } else if (parts.size() != 3 || !SameName(parts[2], "WAB.txt")) {
        book->Ledger().AddStray(entry.name);
    }
}

void CatalogueIdentityEntry(COEIdentity& identity, const ZipEntryInfo& entry, const std::vector<std::string>& parts) {
    const bool messages = parts.size() >= 3 && SameName(parts[2], "Messages");
    const bool accounts = parts.size() >= 3 && SameName(parts[2], "Accounts");
    if (entry.isFolder) {
        if (parts.size() != 3) return;   // the identity folder itself, or a store's sub-folder
        if (messages) identity.FindOrAddItem<COEMessages>(identity.GetId());
        else if (accounts) identity.FindOrAddItem<COEAccounts>(identity.GetId());
        else LOG_ERROR("Should never happen!");
        return;
    }
    if (parts.size() == 3 && SameName(parts[2], "Identity.txt")) {
        if (identity.Ledger().Claim("Identity.txt", entry)) identity.SetIdentityEntry(entry.name);
    } else if (parts.size() >= 4 && messages) {
        identity.FindOrAddItem<COEMessages>(identity.GetId())->AddEntry(entry, JoinEntryParts(parts, 3));
    } else if (parts.size() == 4 && accounts) {
        // Every file of the folder is the accounts key: the first one is restored.
        COEAccounts* item = identity.FindOrAddItem<COEAccounts>(identity.GetId());
        if (item->Ledger().Claim("Accounts", entry)) item->SetAccountsEntry(entry.name);
    } else {
        identity.Ledger().AddStray(entry.name);
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

void CatalogueOEEntry(CMailPlugIn& engine, const ZipEntryInfo& entry) {
    std::vector<std::string> parts;
    SplitEntryName(entry.name, parts);
    if (parts.size() < 2 || (parts.size() == 2 && !entry.isFolder)) return;   // the top folder, the summary
    if (!IsIdentityFolder(parts[1])) {
        CatalogueAddressBookEntry(engine, entry, parts);
    } else if (COEIdentity* identity = FindOrAddIdentity(engine, parts[1])) {
        CatalogueIdentityEntry(*identity, entry, parts);
    }
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
    // Undoing, the identity the undone restore added goes with what it created.
    if (sameName && restored && sameName->GetId() != restored->GetId() && !IsUndoing()) {
        LONG rc = SHDeleteKeyA(HKEY_CURRENT_USER, sameName->GetKeyPath().c_str());
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
            LOG_ERROR("RegDeleteKey call failed with error %d.", static_cast<int>(rc));
    }
    return true;
}

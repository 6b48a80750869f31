#include "OTDiscovery.h"

#include <vector>

#include "Handles.h"
#include "Log.h"
#include "MailPlugIn.h"
#include "OTItems.h"

namespace {
const DWORD kNameBytes = 1024;

// The last profile of that folder name: an archive that holds a profile
// twice (once per root) gives each copy its own entries.
COTIdentity* FindProfile(CMailPlugIn& engine, const std::string& folderName) {
    IdentityList& list = engine.GetIdentityList();
    for (auto it = list.rbegin(); it != list.rend(); ++it) {
        COTIdentity* profile = dynamic_cast<COTIdentity*>(*it);
        if (profile && profile->GetFolderName() == folderName) return profile;
    }
    return nullptr;
}

void CatalogueFolder(CMailPlugIn& engine, const std::vector<std::string>& parts) {
    if (parts.size() < 2) return;   // the top folder itself
    if (parts.size() == 2) {
        engine.GetIdentityList().push_back(new COTIdentity(parts[1]));
        return;
    }
    if (parts.size() > 3) return;   // a sub-folder of the data folder comes back with its files
    COTIdentity* profile = FindProfile(engine, parts[1]);
    if (!profile) {
        LOG_ERROR("Should never happen!");
    } else if (SameName(parts[2], "Accounts")) {
        profile->AddItem(new COTAccounts());
    } else if (SameName(parts[2], "Messages")) {
        profile->AddItem(new COTMessages());
    } else {
        LOG_ERROR("Should never happen!");
    }
}

void CatalogueFile(CMailPlugIn& engine, const std::string& name, const std::vector<std::string>& parts) {
    if (parts.size() < 3) return;   // the system summary
    COTIdentity* profile = FindProfile(engine, parts[1]);
    if (!profile) {
        LOG_ERROR("Should never happen!");
    } else if (parts.size() == 3 && parts[2] == "Identity.txt") {
        profile->SetIdentityEntry(name);
    } else if (parts.size() >= 4 && SameName(parts[2], "Messages")) {
        COTMessages* messages = FindLastItem<COTMessages>(*profile);
        if (messages) messages->AddEntry(name, JoinEntryParts(parts, 3));
        else LOG_ERROR("Should never happen!");
    } else if (parts.size() == 4 && SameName(parts[2], "Accounts") && SameName(parts[3], "Account.txt")) {
        COTAccounts* accounts = FindLastItem<COTAccounts>(*profile);
        if (accounts) accounts->SetAccountEntry(name);
        else LOG_ERROR("Should never happen!");
    }
}
}  // namespace

void BuildOTBackupList(CMailPlugIn& engine) {
    for (const char* root : kProfileRoots) {
        CKey profiles;
        if (profiles.Open(HKEY_CURRENT_USER, root, KEY_ALL_ACCESS) != ERROR_SUCCESS) continue;
        for (DWORD index = 0;; ++index) {
            char name[kNameBytes] = {};
            DWORD size = sizeof(name);
            LONG rc = RegEnumKeyExA(profiles, index, name, &size, nullptr, nullptr, nullptr, nullptr);
            if (rc == ERROR_MORE_DATA) {
                // No registry key name is this long; skip it rather than guess.
                LOG_ERROR("A profile name under %s is too long.", root);
                continue;
            }
            if (rc != ERROR_SUCCESS) break;
            COTIdentity* profile = new COTIdentity(name, root);
            profile->AddItem(new COTAccounts());
            profile->AddItem(new COTMessages());
            engine.GetIdentityList().push_back(profile);
        }
    }
}

void CatalogueOTEntry(CMailPlugIn& engine, const std::string& name, bool isFolder) {
    std::vector<std::string> parts;
    SplitEntryName(name, parts);
    if (isFolder) CatalogueFolder(engine, parts);
    else CatalogueFile(engine, name, parts);
}

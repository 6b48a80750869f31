#include "OTDiscovery.h"

#include <vector>

#include "Handles.h"
#include "Log.h"
#include "MailPlugIn.h"
#include "OTItems.h"
#include "Unzipper.h"

namespace {
const DWORD kNameBytes = 1024;

COTIdentity* FindProfile(CMailPlugIn& engine, const char* folderName) {
    for (CBackupIdentity* container : engine.GetIdentityList()) {
        COTIdentity* profile = dynamic_cast<COTIdentity*>(container);
        if (profile && SameName(profile->GetFolderName(), folderName)) return profile;
    }
    return nullptr;
}

// The profile of that folder, made and appended when the archive names it
// for the first time (by a folder entry or by a file inside it). Folder names
// compare as the file system and the registry compare them: a profile held
// twice (once per root, as older versions archived it) is one profile key at
// restore, and only its first copy is restored.
COTIdentity* FindOrAddProfile(CMailPlugIn& engine, const std::string& folderName) {
    if (COTIdentity* found = FindProfile(engine, folderName.c_str())) return found;
    COTIdentity* profile = new COTIdentity(folderName);
    engine.GetIdentityList().push_back(profile);
    return profile;
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
            // One archive folder per name, and a restore puts one key of a
            // name back: the first root's, where it would also write it.
            if (COTIdentity* listed = FindProfile(engine, name)) {
                listed->AddKeyNotBackedUp(std::string(root) + "\\" + name);
                continue;
            }
            COTIdentity* profile = new COTIdentity(name, root);
            profile->AddItem(new COTAccounts());
            profile->AddItem(new COTMessages());
            engine.GetIdentityList().push_back(profile);
        }
    }
}

void CatalogueOTEntry(CMailPlugIn& engine, const ZipEntryInfo& entry) {
    std::vector<std::string> parts;
    SplitEntryName(entry.name, parts);
    if (parts.size() < 2 || (parts.size() == 2 && !entry.isFolder)) return;   // the top folder, the summary
    COTIdentity& profile = *FindOrAddProfile(engine, parts[1]);
    const bool messages = parts.size() >= 3 && SameName(parts[2], "Messages");
    const bool accounts = parts.size() >= 3 && SameName(parts[2], "Accounts");
    if (entry.isFolder) {
        if (parts.size() != 3) return;   // the profile folder itself, or a data folder's sub-folder
        if (accounts) profile.FindOrAddItem<COTAccounts>();
        else if (messages) profile.FindOrAddItem<COTMessages>();
        else LOG_ERROR("Should never happen!");
    } else if (parts.size() == 3 && SameName(parts[2], "Identity.txt")) {
        if (profile.Ledger().Claim("Identity.txt", entry)) profile.SetIdentityEntry(entry.name);
    } else if (parts.size() >= 4 && messages) {
        profile.FindOrAddItem<COTMessages>()->AddEntry(entry, JoinEntryParts(parts, 3));
    } else if (parts.size() == 4 && accounts && SameName(parts[3], "Account.txt")) {
        COTAccounts* item = profile.FindOrAddItem<COTAccounts>();
        if (item->Ledger().Claim("Account.txt", entry)) item->SetAccountEntry(entry.name);
    } else {
        profile.Ledger().AddStray(entry.name);
    }
}

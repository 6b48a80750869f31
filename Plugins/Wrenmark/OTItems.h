// The Outlook mail profile container and its items.
#pragma once
#include <string>
#include <vector>

#include "BackupItems.h"
#include "UndoArchive.h"

// The profile roots under HKEY_CURRENT_USER, in the order they are tried.
extern const char* const kProfileRoots[2];

// One mail profile: a subkey of a profile root, archived as the hive file
// "Identity.txt" in a folder named after the profile.
class COTIdentity : public CIdentityBase, public IUndoSource {
public:
    // For a backup: the profile of that name under that root.
    COTIdentity(const std::string& name, const std::string& root);
    // For a restore: the profile folder of an archive.
    explicit COTIdentity(const std::string& folderName);

    const std::string& GetFolderName() const { return DisplayName(); }
    void SetIdentityEntry(const std::string& entry) { m_identityEntry = entry; }
    // Backup side: a key of the same name under a later root, which the
    // backup names in the log as not saved.
    void AddKeyNotBackedUp(const std::string& keyPath) { m_keysNotBackedUp.push_back(keyPath); }
    // The profile's key under every root that exists (the restore writes the
    // first that takes it), the accounts key and the data files it writes.
    void PlanUndo(CUndoPlan& plan, CUnzipper& archive) override;

protected:
    bool BackupOwnData(const std::string& parentFolder, CZipper& zipper, std::string& ownFolder) override;
    // Under the first root that exists and takes the key; a root that refuses
    // it keeps its own key as it was.
    bool RestoreOwnData(CUnzipper& unzipper) override;

private:
    std::string m_keyPath;   // backup side: root + "\" + name
    std::string m_identityEntry;
    std::vector<std::string> m_keysNotBackedUp;
};

// Outlook's data folder: the local application-data folder + "\Microsoft\Outlook".
class COTMessages : public CMessagesItemBase {
public:
    bool Backup(std::string folder, CZipper* zipper, WorkerContext* context) override;
    ULONGLONG BackupSourceBytes() override;
    bool Restore(std::string archive, CUnzipper* unzipper, WorkerContext* context) override;

    // Logs "SHGetSpecialFolderPath call failed." when the folder is unknown.
    static bool FindDataFolder(std::string& folder);
    void PlanUndo(CUndoPlan& plan, const std::string& containerFolder) const;
};

// Outlook's Internet mail accounts, the key "OMI Account Manager"; the same
// key for every profile.
class COTAccounts : public CItemBase {
public:
    COTAccounts() : CItemBase("Accounts") {}
    bool Backup(std::string folder, CZipper* zipper, WorkerContext* context) override;
    bool Restore(std::string archive, CUnzipper* unzipper, WorkerContext* context) override;
    void SetAccountEntry(const std::string& entry) { m_entry = entry; }
    void PlanUndo(CUndoPlan& plan, const std::string& containerFolder) const;

private:
    std::string m_entry;
};

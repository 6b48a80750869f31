// The Outlook Express identity container and its items.
#pragma once
#include <string>

#include "BackupItems.h"
#include "UndoArchive.h"

// One identity: the key "Identities\<id>" under HKEY_CURRENT_USER, archived as
// the hive file "Identity.txt" in the folder "<id>$<user name>".
class COEIdentity : public CIdentityBase, public IUndoSource {
public:
    // For a backup: reads the user name from the key's "Username" value.
    COEIdentity(const std::string& id, const std::string& fullKeyName);
    // For a restore: the user name comes from the archive's folder name.
    COEIdentity(const std::string& id, const std::string& userName, const std::string& fullKeyName);

    const std::string& GetId() const { return m_id; }
    const std::string& GetKeyPath() const { return m_keyPath; }
    std::string GetFolderName() const { return m_id + "$" + DisplayName(); }
    void SetIdentityEntry(const std::string& entry) { m_identityEntry = entry; }
    // The identity's key, the same-named identity it replaces, its accounts
    // key and the message files its restore writes.
    void PlanUndo(CUndoPlan& plan, CUnzipper& archive) override;

protected:
    bool BackupOwnData(const std::string& parentFolder, CZipper& zipper, std::string& ownFolder) override;
    bool RestoreOwnData(CUnzipper& unzipper) override;

private:
    std::string m_id;
    std::string m_fullKeyName;
    std::string m_keyPath;
    std::string m_identityEntry;
};

// The identity's message store, the folder named by its "Store Root".
class COEMessages : public CMessagesItemBase {
public:
    explicit COEMessages(const std::string& id) : m_id(id) {}
    bool Backup(std::string folder, CZipper* zipper, WorkerContext* context) override;
    ULONGLONG BackupSourceBytes() override;
    bool Restore(std::string archive, CUnzipper* unzipper, WorkerContext* context) override;

    // The "Store Root" of the identity, expanded when it names %SystemDrive%
    // or %UserProfile%; false when the identity has none.
    static bool FindStoreFolder(const std::string& id, std::string& folder);
    // The same from an identity key anywhere (root\identityKey).
    static bool FindStoreFolderIn(HKEY root, const std::string& identityKey, std::string& folder);
    // Where the files restore: the store root of the archived identity key.
    void PlanUndo(CUndoPlan& plan, CUnzipper& archive, const std::string& identityEntry,
                  const std::string& containerFolder) const;

private:
    std::string m_id;
};

// The mail accounts key: the shared one, or else the identity's own.
class COEAccounts : public CItemBase {
public:
    explicit COEAccounts(const std::string& id) : CItemBase("Accounts"), m_id(id) {}
    bool Backup(std::string folder, CZipper* zipper, WorkerContext* context) override;
    bool Restore(std::string archive, CUnzipper* unzipper, WorkerContext* context) override;
    void SetAccountsEntry(const std::string& entry) { m_entry = entry; }
    void PlanUndo(CUndoPlan& plan, const std::string& containerFolder) const;

private:
    // The key to save or restore; false when neither exists (error code out).
    bool ChooseKey(std::string& keyPath, LONG& error) const;

    std::string m_id;
    std::string m_entry;
};

// The Windows Address Book file and its settings key; one per user.
class COEAddressBook : public CGlobalBackupItem, public IUndoSource {
public:
    COEAddressBook() = default;
    bool Backup(std::string folder, CZipper* zipper, WorkerContext* context) override;
    bool Restore(std::string archive, CUnzipper* unzipper, WorkerContext* context) override;
    virtual std::string GetName() { return "Address Book"; }
    virtual std::string GetDescription() { return std::string(); }

    // Backup side: reads the file's location from the registry.
    void FindFile();
    // Restore side: the first file ending in ".wab" is the address book;
    // a later one is a duplicate.
    void AddAddressBookEntry(const ZipEntryInfo& entry);
    bool HasAddressBookEntry() const { return !m_entry.empty(); }
    CEntryLedger& Ledger() { return m_ledger; }

    static bool ReadFileLocation(std::string& path);
    void PlanUndo(CUndoPlan& plan, CUnzipper& archive) override;

private:
    // Where the archived file goes: beside the current address book, or,
    // where the mail client never set one, in its default place (isNew).
    bool FindRestoreTarget(std::string& path, bool& isNew) const;

    std::string m_fileName;
    std::string m_filePath;
    std::string m_entry;
    CEntryLedger m_ledger;
};

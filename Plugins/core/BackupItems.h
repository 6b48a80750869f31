// Concrete bases for the identity containers and items of both plug-ins, and
// the helpers their Backup and Restore share.
#pragma once
#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "Log.h"
#include "PlugInContract.h"

class CUnzipper;
struct ZipEntryInfo;

// The source position a shared helper logs under: the item that called it,
// so that every line names the item's own unit.
struct LogSite {
    const char* file;
    int line;
};
#define LOG_SITE (LogSite{__FILE__, __LINE__})
#define LOG_ERROR_AT(site, ...) g_Log.LogAt((site).file, (site).line, CLog::Error, __VA_ARGS__)
#define LOG_INFO_AT(site, ...) g_Log.LogAt((site).file, (site).line, CLog::Info, __VA_ARGS__)

// What the archive catalogue found for one container or item besides the
// entries it restores. Each file entry claims the destination it lands on (a
// text compared as the file system compares names); the first in archive
// order keeps it, a later one is a duplicate. Entries that nothing restores
// are strays. At restore both are named in the log; a stray, and a duplicate
// whose content differs from the copy restored, is a failure.
class CEntryLedger {
public:
    // True when the entry is the first to land on destination.
    bool Claim(const std::string& destination, const ZipEntryInfo& entry);
    void AddStray(const std::string& entry) { m_skipped.push_back({entry, std::string(), true}); }
    // Logs every skipped entry and records the failures; false when any.
    bool ReportSkipped(const LogSite& site) const;

private:
    struct Claimed {
        std::string entry;
        DWORD crc;
        ULONGLONG size;
    };
    struct Skipped {
        std::string entry;
        std::string keptEntry;   // the duplicate's first copy
        bool failure;
    };
    std::map<std::string, Claimed> m_claimed;   // by upper-cased destination
    std::vector<Skipped> m_skipped;
};

// A selectable leaf item: a display name and a selection flag.
class CItemBase : public CBackupItem {
public:
    explicit CItemBase(const char* name) : m_name(name) {}
    std::string GetName() override { return m_name; }
    std::string GetDescription() override { return std::string(); }
    bool IsEnabled() override { return m_enabled; }
    void Enable() override { m_enabled = true; }
    void Disable() override { m_enabled = false; }
    // What a backup of the item will read, for the check of the target's
    // free space; registry keys and small files count as nothing.
    virtual ULONGLONG BackupSourceBytes() { return 0; }

    CEntryLedger& Ledger() { return m_ledger; }

private:
    std::string m_name;
    bool m_enabled = false;
    CEntryLedger m_ledger;
};

// An identity container. Backup and Restore first handle the container's own
// data and then every selected item in list order; a container whose own data
// fails calls no item. Between items a cancelled run stops. Items record
// their own failures (below); what they return is not looked at.
class CIdentityBase : public CBackupIdentity {
public:
    explicit CIdentityBase(const std::string& name) : m_name(name) {}
    ~CIdentityBase() override;
    CIdentityBase(const CIdentityBase&) = delete;
    CIdentityBase& operator=(const CIdentityBase&) = delete;

    std::string GetName() override { return m_name; }
    BackupItemList* GetItems() override { return &m_items; }
    bool IsEnabled() override { return m_enabled; }
    void Enable() override;
    void Disable() override;
    bool Backup(std::string folder, CZipper* zipper, WorkerContext* context) override;
    bool Restore(std::string archive, CUnzipper* unzipper, WorkerContext* context) override;

    void AddItem(CBackupItem* item) { m_items.push_back(item); }
    const std::string& DisplayName() const { return m_name; }
    // The container's own entries ("Identity.txt") and its strays.
    CEntryLedger& Ledger() { return m_ledger; }

    // The first item of that kind, made and appended when there is none: an
    // archive's file entries reach their item with or without folder entries.
    template <class Item, class... Args>
    Item* FindOrAddItem(Args&&... args) {
        for (CBackupItem* item : m_items)
            if (Item* found = dynamic_cast<Item*>(item)) return found;
        Item* item = new Item(std::forward<Args>(args)...);
        m_items.push_back(item);
        return item;
    }

protected:
    // Creates ownFolder below the staging folder with its archive entry, then
    // saves HKEY_CURRENT_USER\keyPath into it as "Identity.txt" and adds that.
    static bool BackupKeyFolder(const LogSite& site, const std::string& ownFolder, const std::string& keyPath,
                                CZipper& zipper);
    // Writes the container's own data below the parent folder; ownFolder is
    // the folder its items write into.
    virtual bool BackupOwnData(const std::string& parentFolder, CZipper& zipper, std::string& ownFolder) = 0;
    // Puts the container's own data back and reports its skipped entries.
    virtual bool RestoreOwnData(CUnzipper& unzipper) = 0;

private:
    std::string m_name;
    bool m_enabled = false;
    BackupItemList m_items;
    CEntryLedger m_ledger;
};

// A "Messages" item: a mail client's data folder, copied below its
// container's folder at backup; at restore every archived file goes back to
// its own path below the data folder, sub-folders included.
class CMessagesItemBase : public CItemBase {
public:
    CMessagesItemBase() : CItemBase("Messages") {}

    // An archived message file: its entry and its path below "Messages\".
    // Of entries that land on the same path only the first is restored.
    void AddEntry(const ZipEntryInfo& entry, const std::string& relativePath);
    bool HasEntries() const { return !m_entries.empty(); }
    // Each archived file: its entry and its path below "Messages\".
    const std::vector<std::pair<std::string, std::string>>& Entries() const { return m_entries; }

protected:
    // Writes containerFolder\Messages with its archive entry and copies the
    // data folder into it. A data folder that does not exist holds nothing to
    // save: false, and not counted as a failure.
    bool BackupDataFolder(const LogSite& site, const std::string& dataFolder, const std::string& containerFolder,
                          CZipper& zipper, WorkerContext* context);
    // Puts every archived file back below the data folder; false when there
    // was nothing to put back or a file failed (logged and counted).
    bool RestoreEntries(const LogSite& site, const std::string& dataFolder, CUnzipper& unzipper,
                        WorkerContext* context);
    // The data folder could not be found or was refused: every archived file
    // is a failure, and logged as one with the reason.
    bool RefuseEntries(const LogSite& site, const char* reason);

    // What a message item logs when its data folder cannot be used.
    struct FolderTexts {
        const char* unknown;         // findFolder failed
        const char* refusedFormat;   // the folder was refused: "%s" the folder, then "%s" the reason
        const char* refused;         // logged after it
    };
    // A message item's restore: finds the data folder, checks it as every
    // folder a restore writes into, then puts every archived file back below
    // it. A folder not found or refused restores no file, each a failure.
    bool RestoreIntoDataFolder(const LogSite& site, CUnzipper* unzipper,
                               const std::function<bool(std::string&)>& findFolder, const FolderTexts& texts,
                               WorkerContext* context);

private:
    std::vector<std::pair<std::string, std::string>> m_entries;
};

// Failures of single files, keys and items during one backup or restore. The
// workers reset the count before they start and fail the run when it is not
// zero: data that was found and could not be saved or put back is a failure,
// even though the other items go on. Finding nothing to save is not recorded.
void ResetItemFailures();
void RecordItemFailure();
int GetItemFailureCount();
// An item's last step: a failure is recorded and false returned; success
// moves the progress on with the plug-in's string statusId.
bool FinishItem(bool ok, WorkerContext* context, UINT statusId);

// Creates a staging folder (an existing one is fine) and writes its archive
// entry while it is still empty. Logs createFailedFormat or addFailedFormat
// (each may hold one %s, the folder).
bool AddStagingFolder(const LogSite& site, const std::string& folder, CZipper& zipper, const char* createFailedFormat,
                      const char* addFailedFormat = "Failed to add a folder to zip file %s.");

// Writes a data folder's files into the archive under the entry names they
// would have as copies below target (nothing is copied there), making one
// progress step with the status text per file. A file or sub-folder that
// cannot be read is logged and recorded; a cancelled run stops between files,
// and a file being read stops within it. False on a cancel, or when the
// folder itself cannot be listed.
bool WriteFolderToArchive(const LogSite& site, const std::string& source, const std::string& target,
                          CZipper& zipper, WorkerContext* context, const std::string& status);

// A folder that a restore takes from restored data (a key's value): accepted
// only when it is an absolute path below a drive letter, of plain components
// (no ".", "..", device names, streams, wildcards, trailing dots or blanks),
// and not inside the Windows, system, program files or startup folders.
// Otherwise false, and *reason says why.
bool IsAcceptableRestoreFolder(const std::string& folder, const char** reason);

// A hive-file entry of the archive extracted to a private temporary file,
// removed again with the object. On failure *failure names the step in the
// system's log wording ("GetTempPath call failed.", "CUnzipper::GotoFile call
// failed.", "CUnzipper::UnzipFile call failed.").
class CExtractedHive {
public:
    CExtractedHive() = default;
    ~CExtractedHive();
    CExtractedHive(const CExtractedHive&) = delete;
    CExtractedHive& operator=(const CExtractedHive&) = delete;

    bool Extract(CUnzipper& unzipper, const std::string& entry, const char** failure);
    const char* Path() const { return m_path; }

private:
    char m_path[MAX_PATH] = {};
};

// Puts a key tree back from a hive-file entry of the archive. On failure
// *failure names the step in the system's log wording ("GetTempPath call
// failed.", "CUnzipper::GotoFile call failed.", "CUnzipper::UnzipFile call
// failed.") or is null when the registry refused the tree.
bool RestoreKeyFromEntry(CUnzipper& unzipper, const std::string& entry, HKEY root, const std::string& keyPath,
                         const char** failure);

// Entry names split at "\" (empty parts dropped), and the reverse from the
// part at index first on.
void SplitEntryName(const std::string& name, std::vector<std::string>& parts);
std::string JoinEntryParts(const std::vector<std::string>& parts, size_t first);

// Case-insensitive comparison, as the file system compares names.
bool SameName(const std::string& a, const char* b);

// The last item of the given kind in a container's list, or null.
template <class Item>
Item* FindLastItem(CBackupIdentity& container) {
    BackupItemList& items = *container.GetItems();
    for (auto it = items.rbegin(); it != items.rend(); ++it)
        if (Item* item = dynamic_cast<Item*>(*it)) return item;
    return nullptr;
}

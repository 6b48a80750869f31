// Concrete bases for the identity containers and items of both plug-ins, and
// the helpers their Backup and Restore share.
#pragma once
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "PlugInContract.h"

class CUnzipper;

// A selectable leaf item: a display name and a selection flag.
class CItemBase : public CBackupItem {
public:
    explicit CItemBase(const char* name) : m_name(name) {}
    std::string GetName() override { return m_name; }
    std::string GetDescription() override { return std::string(); }
    bool IsEnabled() override { return m_enabled; }
    void Enable() override { m_enabled = true; }
    void Disable() override { m_enabled = false; }

private:
    std::string m_name;
    bool m_enabled = false;
};

// An identity container. Backup and Restore first handle the container's own
// data and then every selected item in list order; a container whose own data
// fails calls no item. Between items a cancelled run stops.
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

protected:
    // Creates ownFolder below the staging folder with its archive entry, then
    // saves HKEY_CURRENT_USER\keyPath into it as "Identity.txt" and adds that.
    static bool BackupKeyFolder(const std::string& ownFolder, const std::string& keyPath, CZipper& zipper);
    // Writes the container's own data below the parent folder; ownFolder is
    // the folder its items write into.
    virtual bool BackupOwnData(const std::string& parentFolder, CZipper& zipper, std::string& ownFolder) = 0;
    virtual bool RestoreOwnData(CUnzipper& unzipper) = 0;

private:
    std::string m_name;
    bool m_enabled = false;
    BackupItemList m_items;
};

// A "Messages" item: a mail client's data folder, copied below its
// container's folder at backup; at restore every archived file goes back to
// its own path below the data folder, sub-folders included.
class CMessagesItemBase : public CItemBase {
public:
    CMessagesItemBase() : CItemBase("Messages") {}

    // An archived message file: its entry name and its path below "Messages\".
    void AddEntry(const std::string& entry, const std::string& relativePath) {
        m_entries.emplace_back(entry, relativePath);
    }
    bool HasEntries() const { return !m_entries.empty(); }

protected:
    // Writes containerFolder\Messages with its archive entry and copies the
    // data folder into it. A data folder that does not exist holds nothing to
    // save: false, and not counted as a failure.
    bool BackupDataFolder(const std::string& dataFolder, const std::string& containerFolder, CZipper& zipper,
                          WorkerContext* context);
    // Puts every archived file back below the data folder; false when there
    // was nothing to put back or a file failed (logged and counted).
    bool RestoreEntries(const std::string& dataFolder, CUnzipper& unzipper, WorkerContext* context);

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
bool AddStagingFolder(const std::string& folder, CZipper& zipper, const char* createFailedFormat,
                      const char* addFailedFormat = "Failed to add a folder to zip file %s.");

// Copies a data folder into the staging tree, adding every copied file to the
// archive and making one progress step with the status text per file. Failed
// files are logged and recorded; a cancelled run stops between files.
bool CopyFolderToArchive(const std::string& source, const std::string& target, CZipper& zipper,
                         WorkerContext* context, const std::string& status);

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

// The undo archive: before a restore changes anything, what it is about to
// replace is saved, and what it is about to create is noted, in an archive of
// the backup layout in "%APPDATA%\Velmora\Undo". Restoring that archive puts
// the replaced keys and files back and removes what the restore created.
//
// The list of created keys, files and folders is the top-level entry
// "<top>\Undo.txt". Every catalogue of either plug-in passes over files
// directly below the top folder (that is where "summary.txt" lives), so the
// entry is neither restored nor counted as a stray, by this version or an
// older one.
#pragma once
#include <set>
#include <string>
#include <vector>

class CMailPlugIn;
class CUnzipper;
struct ZipEntryInfo;

extern const char* const kUndoListName;   // "Undo.txt"
const unsigned kUndoArchivesKept = 5;

// What one restore will replace or create.
class CUndoPlan {
public:
    // A key below HKEY_CURRENT_USER that the restore replaces: saved as a
    // hive under entry (a name below the top folder) when it exists, noted as
    // created when it does not. A key already planned is not planned again.
    void AddKey(const std::string& entry, const std::string& keyPath);
    // A file that the restore writes: copied under entry when it exists;
    // otherwise noted as created, with every folder above it that does not
    // exist yet.
    void AddFile(const std::string& entry, const std::string& path);
    bool IsEmpty() const { return m_items.empty(); }

    // Writes the undo archive into folder; false, and *reason says why, when
    // any part of it could not be saved. Nothing is left behind then.
    bool Write(const std::string& folder, const std::string& baseName, std::string& reason) const;

private:
    struct Item {
        std::string entry;
        std::string source;
        bool key;
    };
    // True when the key or file is not planned yet; it is then.
    bool IsNew(bool key, const std::string& source);

    std::vector<Item> m_items;
    std::set<std::string> m_planned;   // kind and upper-cased source, for stores of thousands of files
};

// Items and containers that put data back implement this to tell the plan
// what their restore will replace. Not part of the exported interfaces.
class IUndoSource {
public:
    // archive: the archive being restored, for what its own entries decide
    // (the store folder a restored key names).
    virtual void PlanUndo(CUndoPlan& plan, CUnzipper& archive) = 0;

protected:
    ~IUndoSource() = default;
};

// "%APPDATA%\Velmora\Undo"; false when the application-data folder is unknown.
bool GetUndoFolder(std::string& folder);

// Saves what restoring the engine's selection will replace. True when the
// archive is written or none is needed (the archive being restored is an
// undo archive itself: undoing writes no undo of its own); false, with a
// reason for the user, when the restore must not start.
bool WriteUndoArchive(CMailPlugIn& engine, CUnzipper& archive, std::string& reason);

// True while the running restore is the restore of an undo archive.
bool IsUndoing();

// For an undo archive: deletes the keys, files and folders that the undone
// restore created. True when there is nothing to delete or all of it went;
// each failure is logged and recorded.
bool RemoveCreatedByUndoneRestore(CUnzipper& archive);

// Deletes all but the newest kUndoArchivesKept undo archives in the folder.
void PruneUndoArchives(const std::string& folder);

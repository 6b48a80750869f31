// The real plug-ins of the build's home directory driven through their exports
// on the synthetic mail installation, in a private registry.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "Handles.h"
#include "MailFixture.h"
#include "PlugInContract.h"
#include "TestSupport.h"

// Entry names of an archive in stored order (folders end in "\").
std::vector<std::string> ListArchive(const std::string& path);
inline bool Contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}
// Names directly in a folder, hidden ones included, sorted.
std::vector<std::string> Listing(const std::string& folder);
// The entries of a data folder copied to prefix + "\", in file-system order.
void AppendStoreEntries(const std::string& folder, const std::string& prefix, std::vector<std::string>& out);
// A copy of an archive in which a file named in changed gets that content, or
// is left out when it maps to null.
bool RewriteArchive(const std::string& from, const std::string& to, const std::map<std::string, const char*>& changed);
// One entry of an archive as stored: its name (a folder's ends in "\"),
// its DOS time and, for a file, its content.
struct ArchiveEntry {
    std::string name;
    std::string data;
    unsigned long dosDate;
    bool IsFolder() const { return !name.empty() && (name.back() == '\\' || name.back() == '/'); }
};
std::vector<ArchiveEntry> ReadArchiveEntries(const std::string& path);
// Writes the entries in this order, names exactly as given (duplicates,
// "/" and letter case included), folders with the folder attribute.
bool WriteArchiveEntries(const std::string& path, const std::vector<ArchiveEntry>& entries);
// The entry of that name, or a failure.
const ArchiveEntry& EntryNamed(const std::vector<ArchiveEntry>& entries, const std::string& name);
// Each line of the log that holds text.
std::vector<std::string> LinesWith(const std::string& log, const std::string& text);

// "%APPDATA%\Velmora\Undo", where restores keep what they replace; emptied
// (folder or file) by ClearUndoFolder; the undo archives in it, sorted.
std::string UndoFolder();
void ClearUndoFolder();
std::vector<std::string> UndoArchives();

// One plug-in, named by its library's base name ("Wrenfold"), whose archive
// is archiveBaseName + ".vlb" in the target folder.
class MailPlugInTest : public ::testing::Test {
protected:
    MailPlugInTest(const char* plugInName, const char* archiveBaseName) : m_name(plugInName), m_archive(archiveBaseName) {}
    void SetUp() override;
    void TearDown() override { StopPlugIn(); }

    void StartPlugIn();   // loads it, InitPlugIn and InitBackup
    void StopPlugIn();    // UninitBackup, UninitRestore, DestroyPlugIn, unloads it
    template <class F> F Export(const char* name) { return reinterpret_cast<F>(plugIn.Proc(name)); }
    IdentityList& BackupList() {
        IdentityList* list = nullptr;
        Export<PFN_GetIdentities>("GetIdentities")(&list, kBackupSide);
        return *list;
    }
    IdentityList& RestoreList() {
        IdentityList* list = nullptr;
        Export<PFN_GetIdentities>("GetIdentities")(&list, kRestoreSide);
        return *list;
    }
    // The restore list of an archive as text: each container's name, then
    // its items' names indented; empty when InitRestore fails.
    std::vector<std::string> CatalogueOf(const std::string& archive);
    CBackupIdentity* Find(IdentityList& list, const std::string& name) {
        auto it = std::find_if(list.begin(), list.end(), [&](CBackupIdentity* identity) { return identity->GetName() == name; });
        return it == list.end() ? nullptr : *it;
    }
    int Backup(const std::string& folder) { return Export<PFN_Backup>("Backup")(folder); }
    int InitRestore(const std::string& archive) { return Export<PFN_InitRestore>("InitRestore")(archive); }
    int Restore() { return Export<PFN_Restore>("Restore")(); }
    // A backup while another program holds the file open.
    int BackupWhileLocked(const std::string& file) {
        CHandle lock(CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_TRUE(lock.IsValid()) << file;
        return Backup(target.Path());
    }
    void EnableAll() { Export<PFN_Enable>("Enable")(); }
    // Loads the plug-in afresh, catalogues the archive and restores all of it.
    int RestoreEverything(const std::string& archive);
    // Loads the plug-in afresh and restores only the named containers.
    int RestoreOnly(const std::string& archive, const std::vector<std::string>& names);
    std::string NewLog();   // what the plug-in logged since SetUp
    std::string Archive() const { return target / (m_archive + ".vlb"); }

    testsupport::ScratchRegistry registry{true};
    testsupport::ScratchFolder profile, target;
    CLibrary plugIn;

private:
    std::string m_name, m_archive, m_logPath;
    size_t m_logStart = 0;
};

class WrenfoldTest : public MailPlugInTest {
protected:
    WrenfoldTest() : MailPlugInTest("Wrenfold", "Outlook Express") {}
    const mailfixture::OEIdentity& Identity(const std::string& userName);
};

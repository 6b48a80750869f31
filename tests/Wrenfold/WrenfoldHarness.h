// The real plug-ins of the build's home directory (Wrenfold.dll, Wrenmark.dll),
// driven through their exports on the synthetic mail installation, in a
// private registry.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Handles.h"
#include "MailFixture.h"
#include "PlugInContract.h"
#include "TestSupport.h"

struct ArchiveEntry {
    std::string name;
    bool isFolder;
    bool operator==(const ArchiveEntry& other) const { return name == other.name && isFolder == other.isFolder; }
};
std::ostream& operator<<(std::ostream& out, const ArchiveEntry& entry);

// Every entry of an archive in stored order; empty when it cannot be opened.
std::vector<ArchiveEntry> ListArchive(const std::string& path);
// The entries CopyFolder writes for a store folder copied to prefix + "\":
// files in the order the file system lists them, sub-folders in place.
void AppendStoreEntries(const std::string& folder, const std::string& prefix, std::vector<ArchiveEntry>& out);

// One plug-in, named by its library's base name ("Wrenfold"), whose archive
// is archiveBaseName + ".vlb" in the target folder.
class MailPlugInTest : public ::testing::Test {
protected:
    MailPlugInTest(const char* plugInName, const char* archiveBaseName)
        : m_plugInName(plugInName), m_archiveBaseName(archiveBaseName) {}
    void SetUp() override;
    void TearDown() override;

    // Loads the plug-in and calls InitPlugIn and InitBackup.
    void StartPlugIn();
    // Unloads it (UninitBackup, UninitRestore, DestroyPlugIn first).
    void StopPlugIn();
    IdentityList& BackupList();
    IdentityList& RestoreList();
    CBackupIdentity* Find(IdentityList& list, const std::string& name);
    int Backup(const std::string& folder);
    int InitRestore(const std::string& archive);
    int Restore();
    void EnableAll();
    // Log lines written by the plug-in since SetUp.
    std::string NewLog();

    std::string Archive() const { return target.Path() + "\\" + m_archiveBaseName + ".vlb"; }

    testsupport::ScratchRegistry registry{true};
    testsupport::ScratchFolder profile;
    testsupport::ScratchFolder target;
    CLibrary plugIn;
    std::string logPath;
    size_t logStart = 0;
    std::string savedProfile;

private:
    std::string m_plugInName;
    std::string m_archiveBaseName;
};

class WrenfoldTest : public MailPlugInTest {
protected:
    WrenfoldTest() : MailPlugInTest("Wrenfold", "Outlook Express") {}
    const mailfixture::OEIdentity& Identity(const std::string& userName);
};

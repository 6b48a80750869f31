#include "WrenfoldHarness.h"

#include <shlobj.h>

#include <ostream>

#include "Unzipper.h"

using namespace testsupport;

std::ostream& operator<<(std::ostream& out, const ArchiveEntry& entry) {
    return out << entry.name << (entry.isFolder ? " (folder)" : "");
}

std::vector<ArchiveEntry> ListArchive(const std::string& path) {
    std::vector<ArchiveEntry> entries;
    CUnzipper unzipper;
    if (!unzipper.OpenArchive(path.c_str())) return entries;
    for (bool more = unzipper.GotoFirstEntry(); more; more = unzipper.GotoNextEntry()) {
        ZipEntryInfo info = {};
        if (unzipper.GetEntryInfo(info)) entries.push_back({info.name, info.isFolder});
    }
    return entries;
}

void AppendStoreEntries(const std::string& folder, const std::string& prefix, std::vector<ArchiveEntry>& out) {
    WIN32_FIND_DATAA data;
    CFindHandle find;
    for (bool more = find.First((folder + "\\*.*").c_str(), data); more; more = find.Next(data)) {
        std::string name = data.cFileName;
        if (name == "." || name == "..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            AppendStoreEntries(folder + "\\" + name, prefix + "\\" + name, out);
        else
            out.push_back({prefix + "\\" + name, false});
    }
}

void MailPlugInTest::SetUp() {
    char saved[MAX_PATH] = {};
    GetEnvironmentVariableA("USERPROFILE", saved, sizeof(saved));
    savedProfile = saved;
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, "Software\\Orridge\\Velmora", "Velmora Home", WinePath(VELMORA_HOME_DIR)));
    ASSERT_TRUE(mailfixture::SetUp(profile.Path()));
    char appData[MAX_PATH] = {};
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, appData, CSIDL_APPDATA, TRUE));
    logPath = std::string(appData) + "\\Velmora\\" + m_plugInName + ".log";
    std::string text;
    ReadFileBytes(logPath, text);
    logStart = text.size();
}

void MailPlugInTest::TearDown() {
    StopPlugIn();
    SetEnvironmentVariableA("USERPROFILE", savedProfile.empty() ? nullptr : savedProfile.c_str());
}

void MailPlugInTest::StartPlugIn() {
    std::string path = WinePath(VELMORA_HOME_DIR) + "\\EnginePlugins\\" + m_plugInName + ".dll";
    ASSERT_TRUE(plugIn.Load(path.c_str())) << path;
    ASSERT_EQ(1, reinterpret_cast<PFN_InitPlugIn>(plugIn.Proc("InitPlugIn"))());
    ASSERT_EQ(1, reinterpret_cast<PFN_InitBackup>(plugIn.Proc("InitBackup"))());
}

void MailPlugInTest::StopPlugIn() {
    if (!plugIn.Get()) return;
    reinterpret_cast<PFN_UninitBackup>(plugIn.Proc("UninitBackup"))();
    reinterpret_cast<PFN_UninitRestore>(plugIn.Proc("UninitRestore"))();
    reinterpret_cast<PFN_DestroyPlugIn>(plugIn.Proc("DestroyPlugIn"))();
    plugIn.Free();
}

IdentityList& MailPlugInTest::BackupList() {
    IdentityList* list = nullptr;
    reinterpret_cast<PFN_GetIdentities>(plugIn.Proc("GetIdentities"))(&list, kBackupSide);
    return *list;
}

IdentityList& MailPlugInTest::RestoreList() {
    IdentityList* list = nullptr;
    reinterpret_cast<PFN_GetIdentities>(plugIn.Proc("GetIdentities"))(&list, kRestoreSide);
    return *list;
}

CBackupIdentity* MailPlugInTest::Find(IdentityList& list, const std::string& name) {
    for (CBackupIdentity* identity : list)
        if (identity->GetName() == name) return identity;
    return nullptr;
}

int MailPlugInTest::Backup(const std::string& folder) {
    return reinterpret_cast<PFN_Backup>(plugIn.Proc("Backup"))(folder);
}

int MailPlugInTest::InitRestore(const std::string& archive) {
    return reinterpret_cast<PFN_InitRestore>(plugIn.Proc("InitRestore"))(archive);
}

int MailPlugInTest::Restore() { return reinterpret_cast<PFN_Restore>(plugIn.Proc("Restore"))(); }

void MailPlugInTest::EnableAll() { reinterpret_cast<PFN_Enable>(plugIn.Proc("Enable"))(); }

std::string MailPlugInTest::NewLog() {
    std::string text;
    ReadFileBytes(logPath, text);
    return text.size() > logStart ? text.substr(logStart) : std::string();
}

const mailfixture::OEIdentity& WrenfoldTest::Identity(const std::string& userName) {
    for (const auto& identity : mailfixture::Identities())
        if (identity.userName == userName) return identity;
    ADD_FAILURE() << "no identity " << userName;
    return mailfixture::Identities().front();
}

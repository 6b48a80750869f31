#include "WrenfoldHarness.h"

#include <shlobj.h>

#include <algorithm>

#include "Unzipper.h"
#include "Zipper.h"

using namespace testsupport;

std::vector<std::string> ListArchive(const std::string& path) {
    std::vector<std::string> names;
    CUnzipper unzipper;
    if (!unzipper.OpenArchive(path.c_str())) return names;
    for (bool more = unzipper.GotoFirstEntry(); more; more = unzipper.GotoNextEntry()) {
        ZipEntryInfo info = {};
        if (unzipper.GetEntryInfo(info)) names.push_back(info.name);
    }
    return names;
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

std::vector<std::string> Listing(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    CFindHandle find;
    for (bool more = find.First((folder + "\\*").c_str(), data); more; more = find.Next(data))
        if (strcmp(data.cFileName, ".") && strcmp(data.cFileName, "..")) names.push_back(data.cFileName);
    std::sort(names.begin(), names.end());
    return names;
}

void AppendStoreEntries(const std::string& folder, const std::string& prefix, std::vector<std::string>& out) {
    WIN32_FIND_DATAA data;
    CFindHandle find;
    for (bool more = find.First((folder + "\\*.*").c_str(), data); more; more = find.Next(data)) {
        std::string name = data.cFileName;
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) out.push_back(prefix + "\\" + name);
        else if (name != "." && name != "..") AppendStoreEntries(folder + "\\" + name, prefix + "\\" + name, out);
    }
}

bool RewriteArchive(const std::string& from, const std::string& to, const std::map<std::string, const char*>& changed) {
    ScratchFolder staging;
    CUnzipper unzipper;
    CZipper zipper;
    if (!unzipper.OpenArchive(from.c_str()) || !zipper.OpenArchive(to.c_str(), staging.Path().c_str())) return false;
    for (const std::string& name : ListArchive(from)) {
        std::string local = staging / name;
        auto change = changed.find(name);
        bool ok = true;
        if (name.back() == '\\') {
            local.pop_back();
            ok = MakeDirs(local) && zipper.AddFolder(local.c_str(), false);
        } else if (change == changed.end()) {
            ok = unzipper.GotoFile(name.c_str(), false) && unzipper.UnzipFileTo(local.c_str()) &&
                 zipper.AddFile(local.c_str(), false);
        } else if (change->second) {
            ok = WriteFileBytes(local, change->second) && zipper.AddFile(local.c_str(), false);
        }
        if (!ok) return false;
    }
    return zipper.CloseArchive();
}

CHandle LockFile(const std::string& path) {
    return CHandle(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
}

void MailPlugInTest::SetUp() {
    char saved[MAX_PATH] = {}, appData[MAX_PATH] = {};
    GetEnvironmentVariableA("USERPROFILE", saved, sizeof(saved));
    m_savedProfile = saved;
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, "Software\\Orridge\\Velmora", "Velmora Home", WinePath(VELMORA_HOME_DIR)));
    ASSERT_TRUE(mailfixture::SetUp(profile.Path()));
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, appData, CSIDL_APPDATA, TRUE));
    m_logPath = std::string(appData) + "\\Velmora\\" + m_name + ".log";
    m_logStart = NewLog().size();   // the whole log so far
}

void MailPlugInTest::TearDown() {
    StopPlugIn();
    SetEnvironmentVariableA("USERPROFILE", m_savedProfile.empty() ? nullptr : m_savedProfile.c_str());
}

void MailPlugInTest::StartPlugIn() {
    std::string path = WinePath(VELMORA_HOME_DIR) + "\\EnginePlugins\\" + m_name + ".dll";
    ASSERT_TRUE(plugIn.Load(path.c_str())) << path;
    ASSERT_EQ(1, Export<PFN_InitPlugIn>("InitPlugIn")());
    ASSERT_EQ(1, Export<PFN_InitBackup>("InitBackup")());
}

void MailPlugInTest::StopPlugIn() {
    if (!plugIn.Get()) return;
    Export<PFN_UninitBackup>("UninitBackup")();
    Export<PFN_UninitRestore>("UninitRestore")();
    Export<PFN_DestroyPlugIn>("DestroyPlugIn")();
    plugIn.Free();
}

IdentityList& MailPlugInTest::List(unsigned char side) {
    IdentityList* list = nullptr;
    Export<PFN_GetIdentities>("GetIdentities")(&list, side);
    return *list;
}

CBackupIdentity* MailPlugInTest::Find(IdentityList& list, const std::string& name) {
    for (CBackupIdentity* identity : list)
        if (identity->GetName() == name) return identity;
    return nullptr;
}

int MailPlugInTest::RestoreEverything(const std::string& archive) {
    StopPlugIn();
    StartPlugIn();
    if (InitRestore(archive) != 1) return -1;
    EnableAll();
    return Restore();
}

std::string MailPlugInTest::NewLog() {
    std::string text;
    ReadFileBytes(m_logPath, text);
    return text.size() > m_logStart ? text.substr(m_logStart) : std::string();
}

const mailfixture::OEIdentity& WrenfoldTest::Identity(const std::string& userName) {
    for (const auto& identity : mailfixture::Identities())
        if (identity.userName == userName) return identity;
    ADD_FAILURE() << "no identity " << userName;
    return mailfixture::Identities().front();
}

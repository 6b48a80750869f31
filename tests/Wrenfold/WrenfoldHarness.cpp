#include "WrenfoldHarness.h"

#include <shlobj.h>

#include "Log.h"
#include "Unzipper.h"
#include "Zipper.h"

using namespace testsupport;

CLog g_Log;   // the test program's own log, as every deliverable has one

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
    ScratchFolder unpacked;
    CUnzipper unzipper;
    if (!unzipper.OpenArchive(from.c_str())) return false;
    bool ok = true;
    for (bool more = unzipper.GotoFirstEntry(); more; more = unzipper.GotoNextEntry())
        ok = ok && unzipper.UnzipFile(unpacked.Path().c_str(), false);
    for (const auto& change : changed)
        ok = ok && (change.second ? WriteFileBytes(unpacked / change.first, change.second)
                                  : DeleteFileA((unpacked / change.first).c_str()) != FALSE);
    std::string top = ListArchive(from).front();
    top.pop_back();
    CZipper zipper(to.c_str(), unpacked.Path().c_str());
    return ok && zipper.AddFolder((unpacked / top).c_str(), false) && zipper.CloseArchive();
}

void MailPlugInTest::SetUp() {
    char appData[MAX_PATH] = {};
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, "Software\\Orridge\\Velmora", "Velmora Home", WinePath(VELMORA_HOME_DIR)));
    ASSERT_TRUE(mailfixture::SetUp(profile.Path()));
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, appData, CSIDL_APPDATA, TRUE));
    m_logPath = std::string(appData) + "\\Velmora\\" + m_name + ".log";
    m_logStart = NewLog().size();   // the whole log so far
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

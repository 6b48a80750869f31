#include "WrenfoldHarness.h"

#include <shlobj.h>

#include "FileUtil.h"
#include "Log.h"
#include "Unzipper.h"
#include "Zipper.h"
#include "zip.h"

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

std::vector<ArchiveEntry> ReadArchiveEntries(const std::string& path) {
    std::vector<ArchiveEntry> entries;
    ScratchFolder scratch;
    CUnzipper unzipper;
    if (!unzipper.OpenArchive(path.c_str())) return entries;
    for (bool more = unzipper.GotoFirstEntry(); more; more = unzipper.GotoNextEntry()) {
        ZipEntryInfo info = {};
        if (!unzipper.GetEntryInfo(info)) continue;
        ArchiveEntry entry = {info.name, std::string(), info.dosDate};
        const std::string file = scratch / "entry";
        if (!info.isFolder && !(unzipper.UnzipFileTo(file.c_str()) && ReadFileBytes(file, entry.data)))
            ADD_FAILURE() << "cannot read " << info.name;
        entries.push_back(entry);
    }
    return entries;
}

bool WriteArchiveEntries(const std::string& path, const std::vector<ArchiveEntry>& entries) {
    zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    if (!zip) return false;
    bool ok = true;
    for (const ArchiveEntry& entry : entries) {
        zip_fileinfo info = {};
        info.dosDate = entry.dosDate;
        info.external_fa = entry.IsFolder() ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
        ok = ok && zipOpenNewFileInZip64(zip, entry.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                         Z_DEFAULT_COMPRESSION, 0) == ZIP_OK;
        ok = ok && (entry.data.empty() ||
                    zipWriteInFileInZip(zip, entry.data.data(), static_cast<unsigned>(entry.data.size())) == ZIP_OK);
        ok = ok && zipCloseFileInZip(zip) == ZIP_OK;
    }
    return zipClose(zip, nullptr) == ZIP_OK && ok;
}

const ArchiveEntry& EntryNamed(const std::vector<ArchiveEntry>& entries, const std::string& name) {
    for (const ArchiveEntry& entry : entries)
        if (entry.name == name) return entry;
    ADD_FAILURE() << "no entry " << name;
    static const ArchiveEntry none = {};
    return none;
}

std::vector<std::string> LinesWith(const std::string& log, const std::string& text) {
    std::vector<std::string> lines;
    for (size_t start = 0; start < log.size();) {
        size_t end = log.find('\n', start);
        if (end == std::string::npos) end = log.size();
        std::string line = log.substr(start, end - start);
        if (line.find(text) != std::string::npos) lines.push_back(line);
        start = end + 1;
    }
    return lines;
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

int MailPlugInTest::RestoreOnly(const std::string& archive, const std::vector<std::string>& names) {
    StopPlugIn();
    StartPlugIn();
    if (InitRestore(archive) != 1) return -1;
    for (const std::string& name : names) {
        CBackupIdentity* identity = Find(RestoreList(), name);
        if (!identity) return -1;
        identity->Enable();
    }
    return Restore();
}

std::vector<std::string> MailPlugInTest::CatalogueOf(const std::string& archive) {
    std::vector<std::string> names;
    StopPlugIn();
    StartPlugIn();
    if (InitRestore(archive) != 1) return names;
    for (CBackupIdentity* identity : RestoreList()) {
        names.push_back(identity->GetName());
        for (CBackupItem* item : *identity->GetItems()) names.push_back("  " + item->GetName());
    }
    return names;
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

std::string UndoFolder() {
    char appData[MAX_PATH] = {};
    SHGetSpecialFolderPathA(nullptr, appData, CSIDL_APPDATA, TRUE);
    return std::string(appData) + "\\Velmora\\Undo";
}

void ClearUndoFolder() {
    const std::string folder = UndoFolder();
    SetFileAttributesA(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFolderTree(folder.c_str())) DeleteFileA(folder.c_str());
}

std::vector<std::string> UndoArchives() {
    std::vector<std::string> names;
    for (const std::string& name : Listing(UndoFolder()))
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".vlb") == 0) names.push_back(name);
    return names;
}

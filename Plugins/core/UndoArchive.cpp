#include "UndoArchive.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "BackupItems.h"
#include "FileUtil.h"
#include "Handles.h"
#include "Log.h"
#include "MailPlugIn.h"
#include "MoveReplace.h"
#include "ORRegistryUtil.h"
#include "PlugInModule.h"
#include "SystemSummary.h"
#include "Unzipper.h"
#include "Zipper.h"

const char* const kUndoListName = "Undo.txt";

namespace {
// Lines of the created list: "<kind>\t<path>", keys below HKEY_CURRENT_USER.
const char kCreatedKey[] = "key";
const char kCreatedFile[] = "file";
const char kCreatedFolder[] = "folder";
// "aside\t<entry>\t<key>": a key saved directly below the top folder, put back
// by the undo itself. Older versions pass over these lines.
const char kKeptAsideKey[] = "aside";

// One restore runs at a time per plug-in, on its worker thread.
bool g_undoing = false;

std::string ParentOf(const std::string& path) {
    size_t slash = path.rfind('\\');
    return slash == std::string::npos || slash < 3 ? std::string() : path.substr(0, slash);
}

// The undo archive's staging folder and temporary file, both removed again
// whatever happens; the archive only gets its name once it is complete.
class CUndoScratch {
public:
    static constexpr const char* kPrefix = "vlu";
    static constexpr const char* kStageSuffix = ".stage";
    ~CUndoScratch() {
        if (!m_stage.empty()) DeleteFolderTree(m_stage.c_str());
        if (!m_temp.empty()) DeleteFileA(m_temp.c_str());
    }
    // A restore killed while it wrote its undo left a part of it, with
    // copies of the user's keys: that goes first.
    bool Create(const std::string& folder) {
        RemoveEndedProcessTempFiles(folder.c_str(), kPrefix, nullptr);
        RemoveEndedProcessTempFolders(folder.c_str(), kPrefix, kStageSuffix);
        char file[MAX_PATH] = {};
        if (!CreateProcessTempFile(folder.c_str(), kPrefix, file)) return false;
        m_temp = file;
        std::string stage = m_temp + kStageSuffix;
        if (stage.size() >= MAX_PATH || !CreateDirectoryA(stage.c_str(), nullptr)) return false;
        m_stage = stage;
        return true;
    }
    const std::string& Temp() const { return m_temp; }
    const std::string& Stage() const { return m_stage; }
    void Published() { m_temp.clear(); }

private:
    std::string m_temp, m_stage;
};

// A free name "<base> YYYY-MM-DD HH-MM-SS.vlb" (local time) in folder.
std::string NewArchiveName(const std::string& folder, const std::string& baseName) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char stamp[64];
    snprintf(stamp, sizeof(stamp), "%04u-%02u-%02u %02u-%02u-%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
             now.wMinute, now.wSecond);
    std::string name = folder + "\\" + baseName + " " + stamp + ".vlb";
    for (int copy = 2; GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES && copy < 100; ++copy)
        name = folder + "\\" + baseName + " " + stamp + " (" + std::to_string(copy) + ").vlb";
    return name;
}

// The outermost key of the path that does not exist: a restore that writes
// the key makes every missing key above it as well.
std::string OutermostMissingKey(const std::string& keyPath) {
    std::string missing = keyPath;
    for (size_t slash = missing.rfind('\\'); slash != std::string::npos && slash > 0; slash = missing.rfind('\\')) {
        const std::string parent = missing.substr(0, slash);
        if (ORRegistryUtil::RegKeyExists(HKEY_CURRENT_USER, parent.c_str())) break;
        missing = parent;
    }
    return missing;
}

// seen: the lines listed so far, so that a list of thousands of lines is
// not searched for each one.
bool AddLineOnce(std::string& list, std::set<std::string>& seen, const std::string& line) {
    if (!seen.insert(line).second) return false;
    list += line;
    return true;
}

bool WriteText(const std::string& path, const std::string& text) {
    CHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file.IsValid() && WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

bool IsUndoListEntry(const ZipEntryInfo& info) {
    std::vector<std::string> parts;
    SplitEntryName(info.name, parts);
    return !info.isFolder && parts.size() == 2 && SameName(parts[1], kUndoListName);
}

// The created list of an undo archive, line by line, and its entry's name;
// false when it has none.
bool ReadCreatedList(CUnzipper& archive, std::vector<std::string>& lines, std::string* listEntry = nullptr) {
    std::string entry;
    for (bool more = archive.GotoFirstEntry(); more && entry.empty(); more = archive.GotoNextEntry()) {
        ZipEntryInfo info;
        if (archive.GetEntryInfo(info) && IsUndoListEntry(info)) entry = info.name;
    }
    if (entry.empty()) return false;
    if (listEntry) *listEntry = entry;
    CExtractedHive copy;   // a private temporary file, removed with the object
    const char* failure = nullptr;
    std::string text;
    if (copy.Extract(archive, entry, &failure)) {
        CHandle file(CreateFileA(copy.Path(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        char buffer[4096];
        DWORD read = 0;
        while (file.IsValid() && ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0)
            text.append(buffer, read);
    } else {
        LOG_ERROR("%s", failure);
        RecordItemFailure();
    }
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
        start = end + 1;
    }
    return true;
}

// Only the archives in the undo folder undo: the list of any other archive
// could name any key or file of the user's for deletion.
bool IsInUndoFolder(const std::string& archivePath) {
    char full[MAX_PATH] = {};
    char* name = nullptr;
    const DWORD length = GetFullPathNameA(archivePath.c_str(), MAX_PATH, full, &name);
    std::string folder;
    if (length == 0 || length >= MAX_PATH || !name || name == full || !GetUndoFolder(folder)) return false;
    return SameName(std::string(full, name - full - 1), folder.c_str());
}
}  // namespace

bool CUndoPlan::MarkPlanned(bool key, const std::string& source) {
    // Paths and key names compare without regard to case, as Windows does.
    std::string name = (key ? "k" : "f") + source;
    if (!name.empty()) CharUpperBuffA(&name[0], static_cast<DWORD>(name.size()));
    return m_planned.insert(name).second;
}

void CUndoPlan::AddKey(const std::string& entry, const std::string& keyPath) {
    if (MarkPlanned(true, keyPath)) m_items.push_back({entry, keyPath, true, false});
}

void CUndoPlan::AddKeyKeptAside(const std::string& keyPath) {
    if (MarkPlanned(true, keyPath))
        m_items.push_back({"Key " + std::to_string(++m_keptAside) + ".txt", keyPath, true, true});
}

void CUndoPlan::AddFile(const std::string& entry, const std::string& path) {
    if (MarkPlanned(false, path)) m_items.push_back({entry, path, false, false});
}

bool CUndoPlan::Write(const std::string& folder, const std::string& baseName, std::string& reason) const {
    if (!CreateFolderPath(folder.c_str()) || !FolderExists(folder.c_str())) {
        reason = "The folder " + folder + " cannot be created.";
        return false;
    }
    CUndoScratch scratch;
    if (!scratch.Create(folder)) {
        reason = "No file can be written in " + folder + ".";
        return false;
    }
    const std::string top = scratch.Stage() + "\\" + baseName;
    std::string created;
    CZipper zipper;
    bool ok = CreateDirectoryA(top.c_str(), nullptr) && zipper.OpenArchive(scratch.Temp().c_str(), scratch.Stage().c_str());
    if (!ok) reason = "The undo file cannot be written in " + folder + ".";
    std::set<std::string> listed;
    auto createdFolderLine = [](const std::string& path) { return std::string(kCreatedFolder) + "\t" + path + "\r\n"; };
    for (const Item& item : m_items) {
        if (!ok) break;
        const std::string staged = top + "\\" + item.entry;
        // Only what is saved needs its folder below the staging folder.
        auto stage = [&] {
            if (CreateFolderPath(ParentOf(staged).c_str())) return true;
            reason = "The undo file cannot be written in " + folder + ".";
            return false;
        };
        if (item.key) {
            if (!ORRegistryUtil::RegKeyExists(HKEY_CURRENT_USER, item.source.c_str())) {
                AddLineOnce(created, listed, std::string(kCreatedKey) + "\t" + OutermostMissingKey(item.source) + "\r\n");
            } else if (!stage()) {
                ok = false;
            } else if (!ORRegistryUtil::SaveRegKeyPath(HKEY_CURRENT_USER, item.source.c_str(), staged.c_str()) ||
                       !zipper.AddFile(staged.c_str(), false)) {
                reason = "The registry key HKEY_CURRENT_USER\\" + item.source + " could not be saved.";
                ok = false;
            } else if (item.keptAside) {
                created += std::string(kKeptAsideKey) + "\t" + item.entry + "\t" + item.source + "\r\n";
            }
        } else if (listed.count(createdFolderLine(ParentOf(item.source))) ||
                   GetFileAttributesA(item.source.c_str()) == INVALID_FILE_ATTRIBUTES) {
            // Nothing is in a folder the restore will make, so a store restored
            // anew is not looked up file by file. The folders the restore will
            // make, outermost first; a folder listed already has its missing
            // parents listed before it.
            std::vector<std::string> folders;
            for (std::string parent = ParentOf(item.source);
                 !parent.empty() && !listed.count(createdFolderLine(parent)) &&
                 GetFileAttributesA(parent.c_str()) == INVALID_FILE_ATTRIBUTES;
                 parent = ParentOf(parent))
                folders.insert(folders.begin(), parent);
            for (const std::string& made : folders) AddLineOnce(created, listed, createdFolderLine(made));
            created += std::string(kCreatedFile) + "\t" + item.source + "\r\n";
        } else if (!zipper.AddFileAs(item.source.c_str(), staged.c_str())) {
            // Read straight from where it is: a copy first would double the
            // disk work of saving a store of gigabytes.
            const DWORD error = GetLastError();
            reason = IsDiskFull(error)
                         ? "The file " + item.source + " could not be added to the undo file (is the disk full?)."
                         : "The file " + item.source + " could not be read.";
            ok = false;
        }
    }
    if (ok) {
        const std::string list = top + "\\" + kUndoListName, summary = top + "\\summary.txt";
        ok = WriteText(list, created) && zipper.AddFile(list.c_str(), false) && WriteSystemSummary(summary) &&
             zipper.AddFile(summary.c_str(), false) && zipper.CloseArchive();
        if (!ok) reason = "The undo file could not be completed in " + folder + " (is the disk full?).";
    }
    zipper.CloseArchive();
    if (!ok) return false;
    const std::string name = NewArchiveName(folder, baseName);
    if (!MoveFileReplacing(scratch.Temp().c_str(), name.c_str())) {
        reason = "The undo file " + name + " could not be written.";
        return false;
    }
    scratch.Published();
    LOG_INFO("Saved what the restore replaces in %s.", name.c_str());
    return true;
}

bool GetUndoFolder(std::string& folder) {
    char appData[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathA(nullptr, appData, CSIDL_APPDATA, TRUE)) return false;
    folder = std::string(appData) + "\\Velmora\\Undo";
    return true;
}

bool WriteUndoArchive(CMailPlugIn& engine, CUnzipper& archive, std::string& reason) {
    std::vector<std::string> ignored;
    g_undoing = false;
    if (ReadCreatedList(archive, ignored)) {
        if (IsInUndoFolder(engine.GetPath())) {
            g_undoing = true;
            return true;   // undoing: no redo is kept
        }
        LOG_ERROR("The list of %s in %s is not used: only the undo folder's archives undo a restore.", kUndoListName,
                  engine.GetPath().c_str());
    }
    CUndoPlan plan;
    for (CBackupIdentity* identity : engine.GetIdentityList())
        if (IUndoSource* source = dynamic_cast<IUndoSource*>(identity); source && identity->IsEnabled())
            source->PlanUndo(plan, archive);
    if (IUndoSource* source = dynamic_cast<IUndoSource*>(engine.GetAddressBook())) source->PlanUndo(plan, archive);
    if (plan.IsEmpty()) return true;
    std::string folder;
    if (!GetUndoFolder(folder)) {
        reason = "The application data folder is not known.";
        return false;
    }
    if (!plan.Write(folder, kThisPlugIn.archiveBaseName, reason)) {
        LOG_ERROR("The restore does not start: %s", reason.c_str());
        return false;
    }
    PruneUndoArchives(folder);
    return true;
}

bool IsUndoing() { return g_undoing; }

bool RemoveCreatedByUndoneRestore(CUnzipper& archive) {
    std::vector<std::string> lines;
    std::string listEntry;
    if (!g_undoing || !ReadCreatedList(archive, lines, &listEntry)) return true;
    bool ok = true;
    // The kept-aside keys first: an item of the undo may have written one of
    // them (a profile key under the other root).
    const std::string aside = std::string(kKeptAsideKey) + "\t";
    const std::string top = listEntry.substr(0, listEntry.find_last_of("\\/") + 1);
    for (const std::string& line : lines) {
        const size_t split = line.find('\t', aside.size());
        if (line.compare(0, aside.size(), aside) != 0 || split == std::string::npos) continue;
        const std::string key = line.substr(split + 1);
        const char* failure = nullptr;
        if (!RestoreKeyFromEntry(archive, top + line.substr(aside.size(), split - aside.size()), HKEY_CURRENT_USER, key,
                                 &failure)) {
            LOG_ERROR("Failed to put back the registry key %s that the undone restore replaced: %s", key.c_str(),
                      failure ? failure : "the registry refused it.");
            RecordItemFailure();
            ok = false;
        }
    }
    auto fail = [&](const char* what, const std::string& path, DWORD error) {
        LOG_ERROR("Failed to remove the %s %s that the undone restore created, error %d.", what, path.c_str(),
                  static_cast<int>(error));
        RecordItemFailure();
        ok = false;
    };
    // Files first, then folders innermost first, then keys.
    for (const char* kind : {kCreatedFile, kCreatedFolder, kCreatedKey}) {
        const std::string prefix = std::string(kind) + "\t";
        for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
            if (line->compare(0, prefix.size(), prefix) != 0) continue;
            const std::string path = line->substr(prefix.size());
            if (kind == kCreatedKey) {
                LONG rc = ORRegistryUtil::DeleteRegKeyTree(HKEY_CURRENT_USER, path.c_str());
                if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) fail("registry key", path, rc);
            } else if (kind == kCreatedFile) {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                if (!DeleteFileA(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND &&
                    GetLastError() != ERROR_PATH_NOT_FOUND)
                    fail("file", path, GetLastError());
            } else if (!RemoveDirectoryA(path.c_str())) {
                // A folder that holds something made since is kept.
                DWORD error = GetLastError();
                if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND && error != ERROR_DIR_NOT_EMPTY)
                    fail("folder", path, error);
            }
        }
    }
    return ok;
}

void PruneUndoArchives(const std::string& folder) {
    struct Found {
        FILETIME written;
        std::string path;
    };
    std::vector<Found> found;
    WIN32_FIND_DATAA data;
    CFindHandle find;
    for (bool more = find.First((folder + "\\*.vlb").c_str(), data); more; more = find.Next(data))
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            found.push_back({data.ftLastWriteTime, folder + "\\" + data.cFileName});
    if (found.size() <= kUndoArchivesKept) return;
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        LONG order = CompareFileTime(&a.written, &b.written);
        return order != 0 ? order > 0 : a.path > b.path;
    });
    for (size_t i = kUndoArchivesKept; i < found.size(); ++i)
        if (!DeleteFileA(found[i].path.c_str()))
            LOG_ERROR("Failed to delete the old undo file %s.", found[i].path.c_str());
}

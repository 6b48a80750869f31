#include "BackupItems.h"

#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "FileUtil.h"
#include "Log.h"
#include "ORRegistryUtil.h"
#include "PlugInModule.h"
#include "ProgressDlg.h"
#include "Unzipper.h"
#include "Zipper.h"

namespace {
// One backup or restore runs at a time per plug-in, on its worker thread.
volatile LONG g_itemFailures = 0;

// Reads a data folder's tree straight into the archive: each file under the
// entry name it would have as a copy below the staging folder target, in the
// order the file system lists it. Only a cancel or a source that cannot be
// listed at all fail the walk; a file or sub-folder that cannot be read is
// logged and recorded, as the backup then lacks it.
class CStoreTreeWriter {
public:
    CStoreTreeWriter(const LogSite& site, CZipper& zipper, WorkerContext* context, const std::string& status)
        : m_site(site), m_zipper(zipper), m_context(context), m_status(status) {}

    // A sub-folder its parent listed always holds "." and "..": finding
    // nothing there is a failure too.
    bool Write(const std::string& source, const std::string& target, bool subFolder = false) {
        WIN32_FIND_DATAA data;
        CFindHandle find;
        bool found = find.First((source + "\\*.*").c_str(), data);
        if (!found && (subFolder || GetLastError() != ERROR_FILE_NOT_FOUND)) {
            if (!subFolder) LOG_ERROR_AT(m_site, "Failed to find the first file to copy.");
            return false;
        }
        DWORD listed = found ? ERROR_SUCCESS : ERROR_NO_MORE_FILES;
        for (; listed == ERROR_SUCCESS; listed = find.Next(data) ? ERROR_SUCCESS : GetLastError()) {
            if (IsTerminationRequested(m_context)) return false;
            const std::string from = source + "\\" + data.cFileName, to = target + "\\" + data.cFileName;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                // A junction or symbolic link may loop or lead outside the store.
                LOG_ERROR_AT(m_site, "Skipped the link %s.", from.c_str());
            } else if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                AddFile(from, to);
            } else if (strcmp(data.cFileName, ".") && strcmp(data.cFileName, "..") && !Write(from, to, true)) {
                if (IsTerminationRequested(m_context)) return false;
                Missing("The folder %s could not be read and is missing from the backup.", from);
            }
        }
        // A listing cut short leaves out whatever came after.
        if (listed != ERROR_NO_MORE_FILES) Missing("The folder %s could not be listed to its end.", source);
        return !IsTerminationRequested(m_context);
    }

private:
    void AddFile(const std::string& from, const std::string& to) {
        if (!m_zipper.AddFileAs(from.c_str(), to.c_str())) {
            const DWORD error = GetLastError();
            if (IsTerminationRequested(m_context)) return;
            // Mostly a file that the mail client or another program holds
            // open: the user must learn which one the backup lacks. A full
            // target drive is said as such: the file itself is sound.
            LOG_ERROR_AT(m_site, kThisPlugIn.copyFailedFormat, static_cast<int>(error));
            if (IsDiskFull(error))
                Missing("The file %s could not be saved, as the disk is full, and is missing from the backup.", from);
            else
                Missing("The file %s could not be read and is missing from the backup.", from);
        }
        ProgressStep(m_context, m_status);
    }
    void Missing(const char* format, const std::string& path) {
        LOG_ERROR_AT(m_site, format, path.c_str());
        RecordItemFailure();
    }

    const LogSite m_site;
    CZipper& m_zipper;
    WorkerContext* m_context;
    const std::string& m_status;
};

// Destinations compare as the file system compares names.
std::string DestinationKey(const std::string& destination) {
    std::string key = destination;
    for (char& c : key)
        if (c == '/') c = '\\';
    if (!key.empty()) CharUpperBuffA(&key[0], static_cast<DWORD>(key.size()));
    return key;
}

// The part before the first dot (and any blanks before it) names a device:
// "CON", "nul.txt", "COM1 .log".
bool IsDeviceName(const std::string& component) {
    std::string base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"})
        if (SameName(base, device)) return true;
    return base.size() == 4 && (SameName(base.substr(0, 3), "COM") || SameName(base.substr(0, 3), "LPT")) &&
           base[3] >= '1' && base[3] <= '9';
}

// A component Windows takes as written: not ".", "..", a device, a stream,
// a wildcard, or a name whose trailing dots or blanks Windows drops.
bool IsPlainComponent(const std::string& component) {
    if (component.empty() || component.back() == '.' || component.back() == ' ') return false;
    for (unsigned char c : component)
        if (c < 32 || strchr(":*?\"<>|", c)) return false;
    return !IsDeviceName(component);
}

// path is folder or lies below it, by whole components and without case.
bool IsSameOrInside(const std::string& path, std::string folder) {
    while (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
    if (folder.empty() || path.size() < folder.size() ||
        CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, path.c_str(), static_cast<int>(folder.size()),
                       folder.c_str(), static_cast<int>(folder.size())) != CSTR_EQUAL)
        return false;
    return path.size() == folder.size() || path[folder.size()] == '\\' || folder.back() == '\\';
}

bool IsInsideProtectedFolder(const std::string& path) {
    const int kProtected[] = {CSIDL_WINDOWS, CSIDL_SYSTEM, CSIDL_PROGRAM_FILES, CSIDL_STARTUP, CSIDL_COMMON_STARTUP};
    for (int csidl : kProtected) {
        char folder[MAX_PATH] = {};
        if (!SHGetSpecialFolderPathA(nullptr, folder, csidl, FALSE) || !folder[0]) continue;
        if (IsSameOrInside(path, folder)) return true;
        // The same folder by its 8.3 name ("C:\PROGRA~1").
        char shortName[MAX_PATH] = {};
        DWORD length = GetShortPathNameA(folder, shortName, sizeof(shortName));
        if (length > 0 && length < sizeof(shortName) && IsSameOrInside(path, shortName)) return true;
    }
    return false;
}
}  // namespace

bool CEntryLedger::Claim(const std::string& destination, const ZipEntryInfo& entry) {
    auto claimed = m_claimed.emplace(DestinationKey(destination), Claimed{entry.name, entry.crc, entry.uncompressedSize});
    if (claimed.second) return true;
    const Claimed& first = claimed.first->second;
    m_skipped.push_back({entry.name, first.entry, first.crc != entry.crc || first.size != entry.uncompressedSize});
    return false;
}

bool CEntryLedger::ReportSkipped(const LogSite& site) const {
    bool ok = true;
    for (const Skipped& skipped : m_skipped) {
        if (skipped.keptEntry.empty()) {
            LOG_ERROR_AT(site, "The entry %s belongs to nothing that is restored; it is not restored.",
                         skipped.entry.c_str());
        } else if (skipped.failure) {
            LOG_ERROR_AT(site, "The entry %s lands on the same file as %s and holds other data; only %s is restored.",
                         skipped.entry.c_str(), skipped.keptEntry.c_str(), skipped.keptEntry.c_str());
        } else {
            LOG_ERROR_AT(site, "The entry %s duplicates %s; only %s is restored.", skipped.entry.c_str(),
                         skipped.keptEntry.c_str(), skipped.keptEntry.c_str());
            continue;
        }
        RecordItemFailure();
        ok = false;
    }
    return ok;
}

CIdentityBase::~CIdentityBase() {
    for (CBackupItem* item : m_items) delete item;
}

void CIdentityBase::Enable() {
    m_enabled = true;
    for (CBackupItem* item : m_items) item->Enable();
}

void CIdentityBase::Disable() {
    m_enabled = false;
    for (CBackupItem* item : m_items) item->Disable();
}

bool CIdentityBase::Backup(std::string folder, CZipper* zipper, WorkerContext* context) {
    std::string ownFolder;
    if (!zipper || !BackupOwnData(folder, *zipper, ownFolder)) return false;
    for (CBackupItem* item : m_items) {
        if (IsTerminationRequested(context)) break;
        if (item->IsEnabled()) item->Backup(ownFolder, zipper, context);
    }
    return true;
}

bool CIdentityBase::Restore(std::string archive, CUnzipper* unzipper, WorkerContext* context) {
    if (!unzipper || !RestoreOwnData(*unzipper)) return false;
    for (CBackupItem* item : m_items) {
        if (IsTerminationRequested(context)) break;
        if (item->IsEnabled()) item->Restore(archive, unzipper, context);
    }
    return true;
}

bool CIdentityBase::BackupKeyFolder(const LogSite& site, const std::string& ownFolder, const std::string& keyPath,
                                    CZipper& zipper) {
    const std::string file = ownFolder + "\\Identity.txt";
    if (!AddStagingFolder(site, ownFolder, zipper, "Failed to create Identity backup folder %s.")) return false;
    if (!ORRegistryUtil::SaveRegKeyPath(HKEY_CURRENT_USER, keyPath.c_str(), file.c_str())) {
        LOG_ERROR_AT(site, "Failed to backup Identity registry key.");
        return false;
    }
    if (!zipper.AddFile(file.c_str(), false)) {
        LOG_ERROR_AT(site, "Failed to add a file to zip file %s.", file.c_str());
        return false;
    }
    return true;
}

void CMessagesItemBase::AddEntry(const ZipEntryInfo& entry, const std::string& relativePath) {
    if (Ledger().Claim(relativePath, entry)) m_entries.emplace_back(entry.name, relativePath);
}

bool CMessagesItemBase::BackupDataFolder(const LogSite& site, const std::string& dataFolder,
                                         const std::string& containerFolder, CZipper& zipper,
                                         WorkerContext* context) {
    const std::string messages = containerFolder + "\\Messages";
    if (!AddStagingFolder(site, messages, zipper, "Failed to create Messages backup folder %s.")) {
        RecordItemFailure();
        return false;
    }
    if (!FolderExists(dataFolder.c_str())) {
        // A folder the mail client never created holds nothing to save.
        LOG_INFO_AT(site, "The message folder %s does not exist.", dataFolder.c_str());
        return false;
    }
    if (!WriteFolderToArchive(site, dataFolder, messages, zipper, context, LoadPlugInString(kStringBackupMessages))) {
        LOG_ERROR_AT(site, "CopyFolder call failed.");
        if (!IsTerminationRequested(context)) RecordItemFailure();
        return false;
    }
    return true;
}

bool CMessagesItemBase::RestoreEntries(const LogSite& site, const std::string& dataFolder, CUnzipper& unzipper,
                                       WorkerContext* context) {
    if (m_entries.empty()) return false;   // the backup held no file: nothing is touched
    if (IsTerminationRequested(context)) return false;
    if (!CreateFolderPath(dataFolder.c_str())) LOG_ERROR_AT(site, "Failed to create a folder %s", dataFolder.c_str());
    const std::string status = LoadPlugInString(kStringRestoreMessages);
    bool ok = Ledger().ReportSkipped(site);
    auto failed = [&](size_t entry) {
        LOG_ERROR_AT(site, "Failed to restore %s.", m_entries[entry].first.c_str());
        RecordItemFailure();
        ok = false;
    };
    // Entries with a safe path are extracted as one batch, several at once;
    // every entry is still logged in catalogue order, the refused ones between.
    std::vector<UnzipTarget> targets;
    std::vector<size_t> entryOf;   // target index to entry index
    for (size_t i = 0; i < m_entries.size(); ++i) {
        if (!CUnzipper::IsSafeEntryName(m_entries[i].second.c_str())) continue;
        targets.push_back({m_entries[i].first, dataFolder + "\\" + m_entries[i].second});
        entryOf.push_back(i);
    }
    size_t logged = 0;   // entries before this one are logged
    auto refuseUpTo = [&](size_t end) {
        for (; logged < end; ++logged) {
            LOG_ERROR_AT(site, "Refused to restore the unsafe entry %s.", m_entries[logged].first.c_str());
            failed(logged);
        }
    };
    bool finished = unzipper.UnzipFilesTo(targets, [&](size_t target, UnzipOutcome outcome) {
        const size_t entry = entryOf[target];
        refuseUpTo(entry);
        logged = entry + 1;
        if (outcome == UnzipOutcome::Extracted) {
            ProgressStep(context, status);
        } else {
            LOG_ERROR_AT(site, outcome == UnzipOutcome::NotFound ? "CUnzipper::GotoFile call failed."
                                                                  : "CUnzipper::UnzipFile call failed.");
            failed(entry);
        }
        return !IsTerminationRequested(context);
    });
    // Cancelled: what was not yet put back is kept as it was.
    if (IsTerminationRequested(context)) return false;
    if (!finished) {
        // The batch could not run: nothing after the last reported entry came back.
        for (; logged < m_entries.size(); ++logged) failed(logged);
        return false;
    }
    refuseUpTo(m_entries.size());
    return ok;
}

bool CMessagesItemBase::RefuseEntries(const LogSite& site, const char* reason) {
    if (m_entries.empty()) return false;
    LOG_ERROR_AT(site, "%s", reason);
    for (const auto& entry : m_entries) {
        LOG_ERROR_AT(site, "Failed to restore %s.", entry.first.c_str());
        RecordItemFailure();
    }
    Ledger().ReportSkipped(site);
    return false;
}

void ResetItemFailures() { InterlockedExchange(&g_itemFailures, 0); }
void RecordItemFailure() { InterlockedIncrement(&g_itemFailures); }
int GetItemFailureCount() { return static_cast<int>(g_itemFailures); }

bool FinishItem(bool ok, WorkerContext* context, UINT statusId) {
    if (!ok) {
        RecordItemFailure();
        return false;
    }
    ProgressStep(context, LoadPlugInString(statusId));
    return true;
}

bool AddStagingFolder(const LogSite& site, const std::string& folder, CZipper& zipper, const char* createFailedFormat,
                      const char* addFailedFormat) {
    if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        LOG_ERROR_AT(site, createFailedFormat, folder.c_str());
        return false;
    }
    if (!zipper.AddFolder(folder.c_str(), false)) {
        LOG_ERROR_AT(site, addFailedFormat, folder.c_str());
        return false;
    }
    return true;
}

bool WriteFolderToArchive(const LogSite& site, const std::string& source, const std::string& target,
                          CZipper& zipper, WorkerContext* context, const std::string& status) {
    return CStoreTreeWriter(site, zipper, context, status).Write(source, target);
}

namespace {
const char* const kHivePrefix = "vlh";
// Loading a hive leaves its transaction logs beside the file.
const char* const kHiveLogSuffixes[] = {".LOG", ".LOG1", ".LOG2", nullptr};
}  // namespace

CExtractedHive::~CExtractedHive() {
    if (!m_path[0]) return;
    DeleteFileA(m_path);
    for (const char* const* suffix = kHiveLogSuffixes; *suffix; ++suffix) {
        char log[MAX_PATH + 8];
        if (snprintf(log, sizeof(log), "%s%s", m_path, *suffix) < static_cast<int>(sizeof(log))) DeleteFileA(log);
    }
    // A restore that was killed left its hive here, with the user's keys in
    // it; by now the stale mount that may have held it is gone.
    char folder[MAX_PATH] = {};
    DWORD length = GetTempPathA(sizeof(folder), folder);
    if (length && length < sizeof(folder)) RemoveEndedProcessTempFiles(folder, kHivePrefix, kHiveLogSuffixes);
}

bool CExtractedHive::Extract(CUnzipper& unzipper, const std::string& entry, const char** failure) {
    char folder[MAX_PATH] = {};
    DWORD length = GetTempPathA(sizeof(folder), folder);
    if (length == 0 || length >= sizeof(folder) || !CreateProcessTempFile(folder, kHivePrefix, m_path)) {
        m_path[0] = 0;
        *failure = "GetTempPath call failed.";
        return false;
    }
    if (entry.empty() || !unzipper.GotoFile(entry.c_str(), false)) {
        *failure = "CUnzipper::GotoFile call failed.";
        return false;
    }
    if (!unzipper.UnzipFileTo(m_path)) {
        *failure = "CUnzipper::UnzipFile call failed.";
        return false;
    }
    *failure = nullptr;
    return true;
}

bool RestoreKeyFromEntry(CUnzipper& unzipper, const std::string& entry, HKEY root, const std::string& keyPath,
                         const char** failure) {
    CExtractedHive hive;
    return hive.Extract(unzipper, entry, failure) &&
           ORRegistryUtil::RestoreRegKeyPath(root, keyPath.c_str(), hive.Path(), unzipper.StopFlag());
}

void SplitEntryName(const std::string& name, std::vector<std::string>& parts) {
    parts.clear();
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('\\', start);
        if (end == std::string::npos) end = name.size();
        if (end > start) parts.push_back(name.substr(start, end - start));
        start = end + 1;
    }
}

std::string JoinEntryParts(const std::vector<std::string>& parts, size_t first) {
    std::string joined;
    for (size_t i = first; i < parts.size(); ++i) joined += (i > first ? "\\" : "") + parts[i];
    return joined;
}

bool SameName(const std::string& a, const char* b) { return lstrcmpiA(a.c_str(), b) == 0; }

bool IsAcceptableRestoreFolder(const std::string& folder, const char** reason) {
    const char c = folder.empty() ? 0 : folder[0];
    if (folder.size() < 3 || folder.size() >= MAX_PATH || !((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) ||
        folder[1] != ':' || folder[2] != '\\' || folder.find('/') != std::string::npos) {
        *reason = "it is not an absolute path on a drive.";
        return false;
    }
    std::vector<std::string> parts;
    size_t start = 3;
    while (start < folder.size()) {
        size_t end = folder.find('\\', start);
        if (end == std::string::npos) end = folder.size();
        parts.push_back(folder.substr(start, end - start));
        start = end + 1;
    }
    if (parts.empty()) {
        *reason = "it is the root of a drive.";
        return false;
    }
    for (const std::string& part : parts) {
        if (!IsPlainComponent(part)) {
            *reason = "it holds a component that Windows would not take as written.";
            return false;
        }
    }
    if (IsInsideProtectedFolder(folder)) {
        *reason = "it lies in the Windows, system, program or startup folders.";
        return false;
    }
    *reason = nullptr;
    return true;
}

bool CMessagesItemBase::RestoreIntoDataFolder(const LogSite& site, CUnzipper* unzipper,
                                              const std::function<bool(std::string&)>& findFolder,
                                              const FolderTexts& texts, WorkerContext* context) {
    std::string folder;
    if (!unzipper || !findFolder(folder)) return RefuseEntries(site, texts.unknown);
    const char* reason = nullptr;
    if (!IsAcceptableRestoreFolder(folder, &reason)) {
        LOG_ERROR_AT(site, texts.refusedFormat, folder.c_str(), reason);
        return RefuseEntries(site, texts.refused);
    }
    return RestoreEntries(site, folder, *unzipper, context);
}

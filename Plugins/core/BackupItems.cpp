#include "BackupItems.h"

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

// Adds each copied file to the archive and advances the dialog.
class CArchiveCopySink : public ICopyFolderSink {
public:
    CArchiveCopySink(const std::string& source, const std::string& target, CZipper& zipper, WorkerContext* context,
                     const std::string& status)
        : m_source(source), m_target(target), m_zipper(zipper), m_context(context), m_status(status) {}
    void OnFileCopied(const char* targetPath, bool copied) override {
        if (!copied) {
            // Mostly a file that the mail client or another program holds
            // open: the user must learn which one the backup lacks.
            std::string relative = targetPath;
            if (relative.compare(0, m_target.size(), m_target) == 0) relative = relative.substr(m_target.size());
            LOG_ERROR("The file %s could not be read and is missing from the backup.",
                      (m_source + relative).c_str());
            RecordItemFailure();
        } else if (!m_zipper.AddFile(targetPath, false) && !IsCancelled()) {
            LOG_ERROR("Failed to add %s to zip file.", targetPath);
            RecordItemFailure();
        }
        ProgressStep(m_context, m_status);
    }
    bool IsCancelled() override { return IsTerminationRequested(m_context); }

private:
    const std::string& m_source;
    const std::string& m_target;
    CZipper& m_zipper;
    WorkerContext* m_context;
    const std::string& m_status;
};
}  // namespace

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

bool CIdentityBase::BackupKeyFolder(const std::string& ownFolder, const std::string& keyPath, CZipper& zipper) {
    const std::string file = ownFolder + "\\Identity.txt";
    if (!AddStagingFolder(ownFolder, zipper, "Failed to create Identity backup folder %s.")) return false;
    if (!ORRegistryUtil::SaveRegKeyPath(HKEY_CURRENT_USER, keyPath.c_str(), file.c_str())) {
        LOG_ERROR("Failed to backup Identity registry key.");
        return false;
    }
    if (!zipper.AddFile(file.c_str(), false)) {
        LOG_ERROR("Failed to add a file to zip file %s.", file.c_str());
        return false;
    }
    return true;
}

bool CMessagesItemBase::BackupDataFolder(const std::string& dataFolder, const std::string& containerFolder,
                                         CZipper& zipper, WorkerContext* context) {
    const std::string messages = containerFolder + "\\Messages";
    if (!AddStagingFolder(messages, zipper, "Failed to create Messages backup folder %s.")) {
        RecordItemFailure();
        return false;
    }
    if (!FolderExists(dataFolder.c_str())) {
        // A folder the mail client never created holds nothing to save.
        LOG_INFO("The message folder %s does not exist.", dataFolder.c_str());
        return false;
    }
    if (!CopyFolderToArchive(dataFolder, messages, zipper, context, LoadPlugInString(kStringBackupMessages))) {
        LOG_ERROR("CopyFolder call failed.");
        if (!IsTerminationRequested(context)) RecordItemFailure();
        return false;
    }
    return true;
}

bool CMessagesItemBase::RestoreEntries(const std::string& dataFolder, CUnzipper& unzipper, WorkerContext* context) {
    if (m_entries.empty()) return false;   // the backup held no file: nothing is touched
    if (!CreateFolderPath(dataFolder.c_str())) LOG_ERROR("Failed to create a folder %s", dataFolder.c_str());
    const std::string status = LoadPlugInString(kStringRestoreMessages);
    bool ok = true;
    for (const auto& entry : m_entries) {
        if (IsTerminationRequested(context)) return false;
        bool restored = false;
        if (!CUnzipper::IsSafeEntryName(entry.second.c_str())) {
            LOG_ERROR("Refused to restore the unsafe entry %s.", entry.first.c_str());
        } else if (!unzipper.GotoFile(entry.first.c_str(), false)) {
            LOG_ERROR("CUnzipper::GotoFile call failed.");
        } else if (!unzipper.UnzipFileTo((dataFolder + "\\" + entry.second).c_str())) {
            if (IsTerminationRequested(context)) return false;   // abandoned; the file it would replace is kept
            LOG_ERROR("CUnzipper::UnzipFile call failed.");
        } else {
            restored = true;
            ProgressStep(context, status);
        }
        if (!restored) {
            LOG_ERROR("Failed to restore %s.", entry.first.c_str());
            RecordItemFailure();
            ok = false;
        }
    }
    return ok;
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

bool AddStagingFolder(const std::string& folder, CZipper& zipper, const char* createFailedFormat,
                      const char* addFailedFormat) {
    if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        LOG_ERROR(createFailedFormat, folder.c_str());
        return false;
    }
    if (!zipper.AddFolder(folder.c_str(), false)) {
        LOG_ERROR(addFailedFormat, folder.c_str());
        return false;
    }
    return true;
}

bool CopyFolderToArchive(const std::string& source, const std::string& target, CZipper& zipper,
                         WorkerContext* context, const std::string& status) {
    CArchiveCopySink sink(source, target, zipper, context, status);
    return CopyFolder(source.c_str(), target.c_str(), &sink, kThisPlugIn.copyFailedFormat);
}

CExtractedHive::~CExtractedHive() {
    if (m_path[0]) DeleteFileA(m_path);
}

bool CExtractedHive::Extract(CUnzipper& unzipper, const std::string& entry, const char** failure) {
    char folder[MAX_PATH] = {};
    DWORD length = GetTempPathA(sizeof(folder), folder);
    if (length == 0 || length >= sizeof(folder) || !GetTempFileNameA(folder, "vlh", 0, m_path)) {
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
    return hive.Extract(unzipper, entry, failure) && ORRegistryUtil::RestoreRegKeyPath(root, keyPath.c_str(), hive.Path());
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

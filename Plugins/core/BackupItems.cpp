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
    CArchiveCopySink(CZipper& zipper, WorkerContext* context, const std::string& status)
        : m_zipper(zipper), m_context(context), m_status(status) {}
    void OnFileCopied(const char* targetPath, bool copied) override {
        if (!copied) {
            RecordItemFailure();
        } else if (!m_zipper.AddFile(targetPath, false)) {
            LOG_ERROR("Failed to add %s to zip file.", targetPath);
            RecordItemFailure();
        }
        ProgressStep(m_context, m_status);
    }
    bool IsCancelled() override { return IsTerminationRequested(m_context); }

private:
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

void ResetItemFailures() { InterlockedExchange(&g_itemFailures, 0); }
void RecordItemFailure() { InterlockedIncrement(&g_itemFailures); }
int GetItemFailureCount() { return static_cast<int>(g_itemFailures); }

bool AddStagingFolder(const std::string& folder, CZipper& zipper, const char* createFailedFormat) {
    if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        LOG_ERROR(createFailedFormat, folder.c_str());
        return false;
    }
    if (!zipper.AddFolder(folder.c_str(), false)) {
        LOG_ERROR("Failed to add a folder to zip file %s.", folder.c_str());
        return false;
    }
    return true;
}

bool CopyFolderToArchive(const std::string& source, const std::string& target, CZipper& zipper,
                         WorkerContext* context, const std::string& status) {
    CArchiveCopySink sink(zipper, context, status);
    return CopyFolder(source.c_str(), target.c_str(), &sink, kThisPlugIn.copyFailedFormat);
}

bool RestoreKeyFromEntry(CUnzipper& unzipper, const std::string& entry, HKEY root, const std::string& keyPath,
                         const char** failure) {
    char folder[MAX_PATH] = {};
    char file[MAX_PATH] = {};
    DWORD length = GetTempPathA(sizeof(folder), folder);
    if (length == 0 || length >= sizeof(folder) || !GetTempFileNameA(folder, "vlh", 0, file)) {
        *failure = "GetTempPath call failed.";
        return false;
    }
    bool ok = false;
    if (entry.empty() || !unzipper.GotoFile(entry.c_str(), true)) {
        *failure = "CUnzipper::GotoFile call failed.";
    } else if (!unzipper.UnzipFileTo(file)) {
        *failure = "CUnzipper::UnzipFile call failed.";
    } else {
        *failure = nullptr;
        ok = ORRegistryUtil::RestoreRegKeyPath(root, keyPath.c_str(), file);
    }
    DeleteFileA(file);
    return ok;
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

#include "Drivers.h"

#include <windows.h>

#include <cstdio>

#include "BackupItems.h"
#include "FileUtil.h"
#include "Log.h"
#include "MailPlugIn.h"
#include "MoveReplace.h"
#include "PlugInModule.h"
#include "ProgressDlg.h"
#include "SystemSummary.h"
#include "UndoArchive.h"
#include "Unzipper.h"
#include "Zipper.h"

namespace {
const char* const kProgressTitle = "Please Wait..";
// Why the last restore did not start: its undo archive could not be written.
std::string g_undoFailure;

// Files and folders that one backup creates for itself in the target folder
// and removes again, whatever happens: the archive is written under a
// temporary name and staged in a uniquely named hidden folder, so neither an
// existing archive nor anything of the user's is touched until the new
// archive is complete.
class CBackupScratch {
public:
    explicit CBackupScratch(const std::string& target) : m_target(target) {}
    ~CBackupScratch() {
        if (!m_stageRoot.empty()) DeleteFolderTree(m_stageRoot.c_str());
        if (!m_tempArchive.empty()) DeleteFileA(m_tempArchive.c_str());
    }
    CBackupScratch(const CBackupScratch&) = delete;
    CBackupScratch& operator=(const CBackupScratch&) = delete;

    bool Create() {
        char file[MAX_PATH] = {};
        if (!FolderExists(m_target.c_str()) || !GetTempFileNameA(m_target.c_str(), "vlb", 0, file)) return false;
        m_tempArchive = file;
        for (unsigned attempt = 0; attempt < 100; ++attempt) {
            char folder[MAX_PATH] = {};
            int written = snprintf(folder, sizeof(folder), "%s\\~vlstage%08lx", m_target.c_str(),
                                   static_cast<unsigned long>(GetTickCount() + GetCurrentThreadId() + attempt));
            if (written <= 0 || written >= static_cast<int>(sizeof(folder))) return false;
            if (CreateDirectoryA(folder, nullptr)) {
                m_stageRoot = folder;
                SetFileAttributesA(folder, FILE_ATTRIBUTE_HIDDEN);
                return true;
            }
            if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
        }
        return false;
    }
    const std::string& TempArchive() const { return m_tempArchive; }
    // Hidden only once the zip writer has opened it: Windows refuses to
    // recreate a hidden file with CREATE_ALWAYS and plain attributes.
    void HideTempArchive() { SetFileAttributesA(m_tempArchive.c_str(), FILE_ATTRIBUTE_HIDDEN); }
    const std::string& StageRoot() const { return m_stageRoot; }
    // Hands the finished archive over to its final name; true when it is there.
    bool Publish(const std::string& archive) {
        if (!MoveFileReplacing(m_tempArchive.c_str(), archive.c_str())) return false;
        SetFileAttributesA(archive.c_str(), FILE_ATTRIBUTE_NORMAL);
        m_tempArchive.clear();
        return true;
    }

private:
    std::string m_target;
    std::string m_tempArchive;
    std::string m_stageRoot;
};

// Keeps what a backup could save when some of it failed: a complete archive
// with failures never replaces an existing archive (which may hold what this
// one lacks); it then goes beside it as "<base> (incomplete).vlb".
bool PublishArchive(CBackupScratch& scratch, const std::string& target, bool complete) {
    const std::string archive = target + "\\" + kThisPlugIn.archiveBaseName + ".vlb";
    std::string destination = archive;
    if (!complete && GetFileAttributesA(archive.c_str()) != INVALID_FILE_ATTRIBUTES) {
        destination = target + "\\" + kThisPlugIn.archiveBaseName + " (incomplete).vlb";
        LOG_ERROR("The backup is incomplete; the existing backup file %s is kept and this one is saved as %s.",
                  archive.c_str(), destination.c_str());
    }
    if (scratch.Publish(destination)) return true;
    LOG_ERROR("Failed to delete the existing backup file %s with error = %d.", destination.c_str(),
              static_cast<int>(GetLastError()));
    return false;
}

int BackupWorker(WorkerContext* context) {
    CMailPlugIn& engine = *static_cast<CMailPlugIn*>(context->context);
    const std::string target = engine.GetPath();
    ResetItemFailures();
    SetProgressStatus(context, LoadPlugInString(kStringBackupStart));
    SetProgressPosition(context, 0);

    bool result = false;
    {
        CBackupScratch scratch(target);
        CZipper zipper;
        zipper.SetStopFlag(&context->terminationRequested);
        if (!scratch.Create() || !zipper.OpenArchive(scratch.TempArchive().c_str(), scratch.StageRoot().c_str())) {
            LOG_ERROR("Failed to open Zip file %s.",
                      (target + "\\" + kThisPlugIn.archiveBaseName + ".vlb").c_str());
        } else {
            scratch.HideTempArchive();
            const std::string stagingFolder = scratch.StageRoot() + "\\" + kThisPlugIn.archiveBaseName;
            if (AddStagingFolder(LOG_SITE, stagingFolder, zipper, kThisPlugIn.stagingCreateFailedFormat,
                                 kThisPlugIn.stagingAddFailedFormat)) {
                for (CBackupIdentity* identity : engine.GetIdentityList()) {
                    if (IsTerminationRequested(context)) break;
                    if (identity->IsEnabled() && !identity->Backup(stagingFolder, &zipper, context))
                        RecordItemFailure();
                }
                if (engine.GetAddressBook() && !IsTerminationRequested(context))
                    engine.GetAddressBook()->Backup(stagingFolder, &zipper, context);
                const std::string summary = stagingFolder + "\\summary.txt";
                if (IsTerminationRequested(context)) {
                    LOG_ERROR("The backup was cancelled; the existing backup file is kept.");
                } else if (!WriteSystemSummary(summary) || !zipper.AddFile(summary.c_str(), false)) {
                    LOG_ERROR("Failed to write system info.");
                } else if (!zipper.CloseArchive()) {
                    LOG_ERROR("Failed to close Zip file %s.", scratch.TempArchive().c_str());
                } else {
                    bool complete = GetItemFailureCount() == 0;
                    result = PublishArchive(scratch, target, complete) && complete;
                }
            }
        }
        zipper.CloseArchive();
    }

    SetProgressStatus(context, LoadPlugInString(kStringBackupDone));
    SetProgressPosition(context, 100);
    return result ? 1 : 0;
}

void RestoreContainers(CMailPlugIn& engine, const std::string& archive, CUnzipper& unzipper, WorkerContext* context) {
    CMailPlugIn& current = *g_PlugIn.backupEngine;
    for (CBackupIdentity* identity : engine.GetIdentityList()) {
        if (IsTerminationRequested(context)) return;
        if (!identity->IsEnabled()) continue;
        bool restored = kThisPlugIn.restoreContainer
                            ? kThisPlugIn.restoreContainer(current, *identity, archive, unzipper, context)
                            : identity->Restore(archive, &unzipper, context);
        if (!restored) RecordItemFailure();
    }
    if (engine.GetAddressBook() && !IsTerminationRequested(context))
        engine.GetAddressBook()->Restore(archive, &unzipper, context);
}

int RestoreWorker(WorkerContext* context) {
    CMailPlugIn& engine = *static_cast<CMailPlugIn*>(context->context);
    const std::string archive = engine.GetPath();
    ResetItemFailures();
    SetProgressStatus(context, LoadPlugInString(kStringRestoreStart));
    SetProgressPosition(context, 0);

    bool result = false;
    CUnzipper unzipper;
    unzipper.SetStopFlag(&context->terminationRequested);
    if (!unzipper.OpenArchive(archive.c_str())) {
        LOG_ERROR("Failed to open Zip file %s.", archive.c_str());
    } else {
        if (WriteUndoArchive(engine, unzipper, g_undoFailure)) {
            RestoreContainers(engine, archive, unzipper, context);
            if (!IsTerminationRequested(context) && !RemoveCreatedByUndoneRestore(unzipper))
                LOG_ERROR("Not everything the undone restore created could be removed.");
        } else {
            RecordItemFailure();
        }
        unzipper.CloseArchive();
        if (IsTerminationRequested(context)) LOG_ERROR("The restore was cancelled.");
        result = GetItemFailureCount() == 0 && !IsTerminationRequested(context);
    }

    SetProgressStatus(context, LoadPlugInString(kStringRestoreDone));
    SetProgressPosition(context, 100);
    return result ? 1 : 0;
}

bool RunWorker(CMailPlugIn& engine, WorkerFunction worker, const char* failure) {
    INT_PTR result;
    {
        CProgressDlg dialog(nullptr, worker, &engine, kProgressTitle, true);
        result = dialog.RunModal(g_PlugIn.satellite);
    }
    if (result == kProgressSucceeded) return true;
    LOG_ERROR("%s", failure);
    return false;
}
}  // namespace

bool RunBackup(CMailPlugIn& engine, const std::string& targetFolder) {
    engine.SetPath(targetFolder);
    return RunWorker(engine, BackupWorker, "Failed to show backup progress dialog");
}

bool InitRestoreEngine(CMailPlugIn& engine, const std::string& archivePath) {
    engine.SetPath(archivePath);
    CUnzipper unzipper;
    if (!unzipper.OpenArchive(archivePath.c_str())) {
        LOG_ERROR("Failed to open zip file %s.", archivePath.c_str());
        return false;
    }
    char reason[512] = {};
    if (!unzipper.CheckStructure(reason, sizeof(reason))) {
        LOG_ERROR("Refused the backup file %s: %s.", archivePath.c_str(), reason);
        return false;
    }
    if (!VerifySystemSummary(unzipper)) return false;
    if (!kThisPlugIn.catalogueEntry) return true;
    for (bool more = unzipper.GotoFirstEntry(); more; more = unzipper.GotoNextEntry()) {
        ZipEntryInfo info;
        if (unzipper.GetEntryInfo(info)) kThisPlugIn.catalogueEntry(engine, info);
    }
    return true;
}

bool RunRestore(CMailPlugIn& engine) {
    g_undoFailure.clear();
    if (RunWorker(engine, RestoreWorker, "Failed to show restore progress dialog")) return true;
    if (!g_undoFailure.empty()) {
        std::string text = FormatSummaryMessage(LoadPlugInString(kStringUndoFailed), g_undoFailure);
        MessageBoxA(nullptr, text.c_str(), LoadPlugInString(kStringRestoreFailedCaption).c_str(),
                    MB_ICONERROR | MB_OK);
    }
    return false;
}

#include "Drivers.h"

#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "ArchiveVerifier.h"
#include "BackupItems.h"
#include "FileUtil.h"
#include "Handles.h"
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
//
// A backup that was killed leaves both behind, hidden, with a copy of the
// user's mail inside: the next backup into the folder removes them. A run
// still at work keeps its own: the zip writer holds the temporary archive
// open without sharing, and the staging folder is held open without
// FILE_SHARE_DELETE, so neither can be removed while it runs.
class CBackupScratch {
public:
    explicit CBackupScratch(const std::string& target) : m_target(target) {}
    ~CBackupScratch() {
        m_stageGuard.Close();
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
                m_stageGuard.Attach(OpenFolderGuard(folder, FILE_LIST_DIRECTORY));
                SetFileAttributesA(folder, FILE_ATTRIBUTE_HIDDEN);
                return m_stageGuard.IsValid();
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
        m_published = archive;
        m_tempArchive.clear();
        return true;
    }
    // What this backup has put on the target drive so far.
    ULONGLONG WrittenBytes() const {
        return FileBytes(m_tempArchive.empty() ? m_published : m_tempArchive) + FolderTreeBytes(m_stageRoot.c_str());
    }

    // Removes the staging folders and temporary archives that earlier runs
    // into target left there when they were killed. Only a hidden entry of
    // exactly our own name pattern counts, a folder only with nothing but our
    // own staging content in it; one another run holds is in use and stays.
    static void RemoveLeftovers(const std::string& target);

private:
    static ULONGLONG FileBytes(const std::string& path) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (path.empty() || !GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
        return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
    // A handle on a folder that shares reading and writing but not deleting.
    static HANDLE OpenFolderGuard(const char* folder, DWORD access) {
        return CreateFileA(folder, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    }
    static bool IsLeftoverStage(const std::string& folder);

    std::string m_target;
    std::string m_tempArchive;
    std::string m_stageRoot;
    std::string m_published;
    CHandle m_stageGuard;
};

// "12 KB" below 10 MB, "34 MB" above.
void FormatBytes(ULONGLONG bytes, char (&out)[32]) {
    const ULONGLONG kb = 1024, mb = kb * 1024;
    if (bytes < 10 * mb)
        snprintf(out, sizeof(out), "%llu KB", static_cast<unsigned long long>((bytes + kb - 1) / kb));
    else
        snprintf(out, sizeof(out), "%llu MB", static_cast<unsigned long long>((bytes + mb - 1) / mb));
}

// The room left to this user on the target's drive; false (logged) when the
// system cannot tell. drive: "T:", or the target itself when it is a share.
bool TargetFreeSpace(const std::string& target, std::string& drive, ULONGLONG& available) {
    drive = target.size() >= 2 && target[1] == ':' ? target.substr(0, 2) : target;
    // A share's name must end with a backslash.
    const std::string folder = !target.empty() && target.back() == '\\' ? target : target + "\\";
    ULARGE_INTEGER space = {};
    if (!GetDiskFreeSpaceExA(folder.c_str(), &space, nullptr, nullptr)) {
        LOG_ERROR("Failed to find the free space on %s with error = %d.", drive.c_str(),
                  static_cast<int>(GetLastError()));
        return false;
    }
    available = space.QuadPart;
    return true;
}

// Says a full target drive as such when a backup could not be completed,
// with what the backup had written there and the room left. error is the
// failing step's own error when it has one; an item's failure leaves it
// unknown (0), and then a drive with less than a megabyte left counts as full.
void LogTargetSpace(const std::string& target, const CBackupScratch& scratch, DWORD error) {
    std::string drive;
    ULONGLONG available = 0;
    if (!TargetFreeSpace(target, drive, available)) return;
    if (!IsDiskFull(error) && available >= 1024 * 1024) return;
    char written[32], left[32];
    FormatBytes(scratch.WrittenBytes(), written);
    FormatBytes(available, left);
    LOG_ERROR("The drive %s is full: the backup needs more than the %s it wrote there, %s free on %s.",
              drive.c_str(), written, left, drive.c_str());
}


// Before a backup writes anything: what the chosen items will read against the
// room on the target drive. Mail deflates to about a third, so more than the
// free space only warns; with less than a tenth of it free not even a strongly
// compressed archive fits, and the backup is not begun. An unknown free space
// leaves the judgement to the writes themselves.
const ULONGLONG kLeastCompressedShare = 10;
bool TargetCanHold(CMailPlugIn& engine, const std::string& target) {
    ULONGLONG needed = 0;
    for (CBackupIdentity* identity : engine.GetIdentityList()) {
        if (!identity->IsEnabled()) continue;
        for (CBackupItem* item : *identity->GetItems()) {
            CItemBase* own = dynamic_cast<CItemBase*>(item);
            if (own && own->IsEnabled()) needed += own->BackupSourceBytes();
        }
    }
    std::string drive;
    ULONGLONG available = 0;
    if (needed == 0 || !TargetFreeSpace(target, drive, available) || needed <= available) return true;
    char most[32], left[32];
    FormatBytes(needed, most);
    FormatBytes(available, left);
    if (available < needed / kLeastCompressedShare) {
        LOG_ERROR("The drive %s cannot hold the backup: the chosen items hold %s, %s free on %s.", drive.c_str(),
                  most, left, drive.c_str());
        return false;
    }
    LOG_ERROR("The drive %s may be too small for the backup: it needs up to %s, %s free on %s.", drive.c_str(), most,
              left, drive.c_str());
    return true;
}

bool IsHexRun(const char* text, size_t minimum, size_t maximum) {
    size_t count = 0;
    for (; isxdigit(static_cast<unsigned char>(text[count])); ++count) {
        if (count == maximum) return false;
    }
    return count >= minimum && text[count] == 0;
}

// "~vlstage" and eight lower-case hex digits, as Create names them.
bool IsStageName(const char* name) {
    const size_t prefix = strlen("~vlstage");
    if (strncmp(name, "~vlstage", prefix) || strlen(name) != prefix + 8) return false;
    for (const char* c = name + prefix; *c; ++c)
        if (!isdigit(static_cast<unsigned char>(*c)) && (*c < 'a' || *c > 'f')) return false;
    return true;
}

// GetTempFileName's "vlb<hex>.tmp": up to four hex digits.
bool IsTempArchiveName(const char* name) {
    const size_t length = strlen(name);
    if (length < 8 || length > 11 || _strnicmp(name, "vlb", 3) || _stricmp(name + length - 4, ".tmp")) return false;
    char digits[8] = {};
    memcpy(digits, name + 3, length - 7);
    return IsHexRun(digits, 1, 4);
}

// Nothing but the staging folder of this plug-in's archive in it (or nothing).
bool CBackupScratch::IsLeftoverStage(const std::string& folder) {
    WIN32_FIND_DATAA data;
    CFindHandle find;
    if (!find.First((folder + "\\*").c_str(), data)) return false;
    for (bool more = true; more; more = find.Next(data)) {
        if (!strcmp(data.cFileName, ".") || !strcmp(data.cFileName, "..")) continue;
        const DWORD attributes = data.dwFileAttributes;
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
            _stricmp(data.cFileName, kThisPlugIn.archiveBaseName))
            return false;
    }
    return GetLastError() == ERROR_NO_MORE_FILES;
}

void CBackupScratch::RemoveLeftovers(const std::string& target) {
    WIN32_FIND_DATAA data;
    CFindHandle find;
    for (bool more = find.First((target + "\\*").c_str(), data); more; more = find.Next(data)) {
        const DWORD attributes = data.dwFileAttributes;
        if (!(attributes & FILE_ATTRIBUTE_HIDDEN) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) continue;
        const std::string path = target + "\\" + data.cFileName;
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!IsStageName(data.cFileName) || !IsLeftoverStage(path)) continue;
            // A run at work holds its folder without sharing delete: the probe
            // fails, and the folder stays.
            CHandle probe(OpenFolderGuard(path.c_str(), DELETE));
            if (!probe.IsValid()) {
                LOG_INFO("The staging folder %s is in use and is left alone.", path.c_str());
                continue;
            }
            probe.Close();
            if (DeleteFolderTree(path.c_str()))
                LOG_ERROR("Removed the staging folder %s an interrupted backup left.", path.c_str());
            else
                LOG_ERROR("Failed to remove the staging folder %s an interrupted backup left.", path.c_str());
        } else if (IsTempArchiveName(data.cFileName)) {
            if (attributes & FILE_ATTRIBUTE_READONLY) continue;   // never ours: made read-only by someone
            if (DeleteFileA(path.c_str()))
                LOG_ERROR("Removed the temporary backup file %s an interrupted backup left.", path.c_str());
            else
                LOG_INFO("The temporary backup file %s is in use and is left alone (error = %d).", path.c_str(),
                         static_cast<int>(GetLastError()));
        }
    }
}

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
    DWORD error = 0;   // of the step that failed, when it tells
    ArchiveCheck check;
    {
        CBackupScratch::RemoveLeftovers(target);
        CBackupScratch scratch(target);
        CZipper zipper;
        zipper.SetStopFlag(&context->terminationRequested);
        const bool fits = TargetCanHold(engine, target);
        if (!fits) {
            // logged; nothing was written
        } else if (!scratch.Create() ||
                   !zipper.OpenArchive(scratch.TempArchive().c_str(), scratch.StageRoot().c_str())) {
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
                    error = GetLastError();
                    LOG_ERROR("Failed to write system info.");
                } else if (!zipper.CloseArchive()) {
                    error = GetLastError();
                    LOG_ERROR("Failed to close Zip file %s with error = %d.", scratch.TempArchive().c_str(),
                              static_cast<int>(error));
                } else if (VerifyWrittenArchive(scratch.TempArchive().c_str(), zipper, check,
                                                &context->terminationRequested)) {
                    bool complete = GetItemFailureCount() == 0;
                    result = PublishArchive(scratch, target, complete) && complete;
                    if (!result) error = GetLastError();
                }
            }
        }
        zipper.CloseArchive();
        if (!result && fits && !IsTerminationRequested(context)) LogTargetSpace(target, scratch, error);
    }
    LogArchiveCheck(check);

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

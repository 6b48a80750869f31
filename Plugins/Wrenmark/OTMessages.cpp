#include "OTItems.h"

#include <shlobj.h>

#include "FileUtil.h"
#include "Log.h"
#include "Unzipper.h"

bool COTMessages::FindDataFolder(std::string& folder) {
    char local[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathA(nullptr, local, CSIDL_LOCAL_APPDATA, FALSE)) {
        LOG_ERROR("SHGetSpecialFolderPath call failed.");
        return false;
    }
    folder = std::string(local) + "\\Microsoft\\Outlook";
    return true;
}

bool COTMessages::Backup(std::string folder, CZipper* zipper, WorkerContext* context) {
    std::string data;
    if (!zipper) return false;
    if (!FindDataFolder(data)) {
        RecordItemFailure();
        return false;
    }
    return BackupDataFolder(LOG_SITE, data, folder, *zipper, context);
}

ULONGLONG COTMessages::BackupSourceBytes() {
    std::string data;
    return FindDataFolder(data) ? FolderTreeBytes(data.c_str()) : 0;
}

bool COTMessages::Restore(std::string, CUnzipper* unzipper, WorkerContext* context) {
    // Named by the user's settings, not by the archive; checked all the same.
    static const FolderTexts texts = {"Outlook's data folder is not known; no message file is restored.",
                                      "Refused to restore messages into the data folder %s: %s",
                                      "No message file of the profile is restored."};
    return RestoreIntoDataFolder(LOG_SITE, unzipper, FindDataFolder, texts, context);
}

void COTMessages::PlanUndo(CUndoPlan& plan, const std::string& containerFolder) const {
    std::string data;
    if (!HasEntries() || !FindDataFolder(data)) return;
    for (const auto& entry : Entries())
        if (CUnzipper::IsSafeEntryName(entry.second.c_str()))
            plan.AddFile(containerFolder + "\\Messages\\" + entry.second, data + "\\" + entry.second);
}

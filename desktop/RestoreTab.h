// CRestoreTab: the Restore page. The user picks archives one at a time; the
// archive's file name names the plug-in that opens it, and the identities the
// archive holds are listed for the user's choice.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "PlugInPage.h"

class CRestoreTab : public CPlugInPage {
public:
    CRestoreTab();

    // The application an archive belongs to: its file name without folder, up
    // to its last ".", without a trailing " (incomplete)".
    static std::string ApplicationName(const std::string& archivePath);
    const std::vector<std::string>& GetChosenApplications() const { return m_chosen; }
    // Takes an archive the user has chosen (the part after the file dialog).
    void AcceptArchive(const std::string& path);

    // The newest undo archive of "%APPDATA%\Velmora\Undo" that belongs to
    // one of the host's plug-ins, and that plug-in's name; false when none.
    bool FindNewestUndoArchive(std::string& path, std::string& name) const;
    // The mail client an undo archive "<client> YYYY-MM-DD HH-MM-SS[ (n)].vlb"
    // belongs to; empty for any other name.
    static std::string UndoArchiveApplication(const std::string& fileName);

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int code) override;
    void OnDestroy() override;
    void OnApplicationSelected(const NMTREEVIEWA& change) override;
    void OnApplicationClicked() override;
    void OnProfileChanged(const NMLISTVIEW& change) override;

private:
    void OnChooseArchive();
    void AddToTree(CEnginePlugIn* plugIn);
    void OnRunRestore();
    void ShowArchivePath(const std::string& path);
    void OnUndoLastRestore();
    void ReportRestore(int result);
    void UpdateUndoButton();

    std::vector<std::string> m_chosen;
    std::map<std::string, std::string> m_archivePaths;
    std::string m_archivePath;
};

// CEngineHost: what the Backup and Restore pages use to run an export across
// the loaded plug-ins. Every operation walks the plug-ins in name order.
#pragma once
#include <string>

class CEnginePlugIn;
class CEnginePlugInManager;

class CEngineHost {
public:
    explicit CEngineHost(const std::string& homeDirectory);   // scans "<home>\EnginePlugins"
    virtual ~CEngineHost();
    CEngineHost(const CEngineHost&) = delete;
    CEngineHost& operator=(const CEngineHost&) = delete;

    int InitBackup();      // stops after the first 0; 1 when there is no plug-in
    int UninitBackup();
    int InitRestore(const std::string& name, const std::string& archivePath);
    int UninitRestore();
    int Backup(const std::string& folder);   // enabled plug-ins only; stops after the first 0
    int Restore();
    CEnginePlugIn* FindPlugIn(const std::string& name);

    int GetPlugInCount() const;
    CEnginePlugIn* GetPlugIn(int index) const;
    const std::string& GetHomeDirectory() const { return m_homeDirectory; }

private:
    std::string m_homeDirectory;
    CEnginePlugInManager* m_manager;
};

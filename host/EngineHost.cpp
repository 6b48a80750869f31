#include "EngineHost.h"

#include "EnginePlugIn.h"
#include "EnginePlugInManager.h"

CEngineHost::CEngineHost(const std::string& homeDirectory)
    : m_homeDirectory(homeDirectory),
      m_manager(new CEnginePlugInManager(homeDirectory + "\\EnginePlugins")) {}

CEngineHost::~CEngineHost() { delete m_manager; }

int CEngineHost::GetPlugInCount() const { return m_manager->GetCount(); }
CEnginePlugIn* CEngineHost::GetPlugIn(int index) const { return m_manager->GetAt(index); }

int CEngineHost::InitBackup() {
    int result = 1;
    for (int i = 0; i < GetPlugInCount(); ++i)
        if ((result = GetPlugIn(i)->InitBackup()) == 0) break;
    return result;
}

int CEngineHost::UninitBackup() {
    for (int i = 0; i < GetPlugInCount(); ++i) GetPlugIn(i)->UninitBackup();
    return 1;
}

int CEngineHost::InitRestore(const std::string& name, const std::string& archivePath) {
    int result = 1;
    for (int i = 0; i < GetPlugInCount(); ++i) {
        CEnginePlugIn* plugIn = GetPlugIn(i);
        if (plugIn->GetName() != name) continue;
        if ((result = plugIn->InitRestore(archivePath)) == 0) break;
    }
    return result;
}

int CEngineHost::UninitRestore() {
    for (int i = 0; i < GetPlugInCount(); ++i) GetPlugIn(i)->UninitRestore();
    return 1;
}

int CEngineHost::Backup(const std::string& folder) {
    int result = 1;
    for (int i = 0; i < GetPlugInCount(); ++i) {
        CEnginePlugIn* plugIn = GetPlugIn(i);
        if (!plugIn->IsEnabled()) continue;
        if ((result = plugIn->Backup(folder)) == 0) break;
    }
    return result;
}

int CEngineHost::Restore() {
    int result = 1;
    for (int i = 0; i < GetPlugInCount(); ++i) {
        CEnginePlugIn* plugIn = GetPlugIn(i);
        if (!plugIn->IsEnabled()) continue;
        if ((result = plugIn->Restore()) == 0) break;
    }
    return result;
}

CEnginePlugIn* CEngineHost::FindPlugIn(const std::string& name) {
    for (int i = 0; i < GetPlugInCount(); ++i)
        if (GetPlugIn(i)->GetName() == name) return GetPlugIn(i);
    return nullptr;
}

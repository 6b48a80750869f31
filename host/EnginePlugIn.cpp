#include "EnginePlugIn.h"

#include "Log.h"

CEnginePlugIn::~CEnginePlugIn() = default;   // unloading is the manager's job

bool CEnginePlugIn::Load(const std::string& path) {
    m_path = path;
    m_module = LoadLibraryA(path.c_str());
    if (!m_module) return false;

    FARPROC procs[kPlugInExportCount] = {};
    for (int i = 0; i < kPlugInExportCount; ++i) {
        procs[i] = GetProcAddress(m_module, kPlugInExportNames[i]);
        if (!procs[i]) {
            LOG_ERROR("Engine plug-in %s does not export %s; it is not loaded.", path.c_str(),
                      kPlugInExportNames[i]);
            FreeLibrary(m_module);
            m_module = nullptr;
            return false;
        }
    }
    int i = 0;
#define VELMORA_BIND(name, result, args) \
    m_##name = reinterpret_cast<PFN_##name>(reinterpret_cast<void*>(procs[i++]));
    VELMORA_PLUGIN_EXPORTS(VELMORA_BIND)
#undef VELMORA_BIND
    m_InitPlugIn();
    return true;
}

void CEnginePlugIn::Unload() {
    if (!m_module) return;
    m_DestroyPlugIn();
    FreeLibrary(m_module);
    m_module = nullptr;
}

int CEnginePlugIn::InitBackup() { return m_InitBackup(); }
int CEnginePlugIn::UninitBackup() { return m_UninitBackup(); }
int CEnginePlugIn::InitRestore(const std::string& archivePath) { return m_InitRestore(archivePath); }
int CEnginePlugIn::UninitRestore() { return m_UninitRestore(); }
int CEnginePlugIn::Backup(const std::string& folder) { return m_Backup(folder); }
int CEnginePlugIn::Restore() { return m_Restore(); }
int CEnginePlugIn::Enable() { return m_Enable(); }
int CEnginePlugIn::Disable() { return m_Disable(); }

std::string CEnginePlugIn::GetName() {
    std::string name;
    m_GetName(&name);
    return name;
}

int CEnginePlugIn::GetIdentities(IdentityList** list, unsigned char side) {
    *list = nullptr;
    return m_GetIdentities(list, side);
}

bool CEnginePlugIn::IsEnabled() {
    bool enabled = false;
    m_IsEnabled(&enabled);
    return enabled;
}

void CEnginePlugIn::GetSysInfo(std::string& text) { m_GetSysInfo(&text); }

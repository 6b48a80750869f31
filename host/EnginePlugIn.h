// CEnginePlugIn: one loaded engine plug-in library with its fourteen bound
// entry points.
#pragma once
#include <windows.h>
#include <string>

#include "PlugInContract.h"

class CEnginePlugIn {
public:
    CEnginePlugIn() = default;
    virtual ~CEnginePlugIn();
    CEnginePlugIn(const CEnginePlugIn&) = delete;
    CEnginePlugIn& operator=(const CEnginePlugIn&) = delete;

    // Loads the library and binds all fourteen exports, then calls InitPlugIn.
    // A library that lacks any export is freed again, with the missing name
    // logged, and Load returns false.
    bool Load(const std::string& path);
    // DestroyPlugIn, then FreeLibrary.
    void Unload();

    const std::string& GetPath() const { return m_path; }
    HMODULE GetModule() const { return m_module; }

    int InitBackup();
    int UninitBackup();
    int InitRestore(const std::string& archivePath);
    int UninitRestore();
    int Backup(const std::string& folder);
    int Restore();
    int Enable();
    int Disable();
    std::string GetName();
    int GetIdentities(IdentityList** list, unsigned char side);
    bool IsEnabled();
    void GetSysInfo(std::string& text);

private:
    std::string m_path;
    HMODULE m_module = nullptr;
#define VELMORA_DECLARE_MEMBER(name, result, args) PFN_##name m_##name = nullptr;
    VELMORA_PLUGIN_EXPORTS(VELMORA_DECLARE_MEMBER)
#undef VELMORA_DECLARE_MEMBER
};

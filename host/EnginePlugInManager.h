// CEnginePlugInManager: scans the plug-in folder, loads every plug-in library
// it finds and keeps them sorted by name; releases them in that order.
#pragma once
#include <string>
#include <vector>

class CEnginePlugIn;

class CEnginePlugInManager {
public:
    explicit CEnginePlugInManager(const std::string& folder);
    virtual ~CEnginePlugInManager();
    CEnginePlugInManager(const CEnginePlugInManager&) = delete;
    CEnginePlugInManager& operator=(const CEnginePlugInManager&) = delete;

    int GetCount() const { return static_cast<int>(m_plugIns.size()); }
    CEnginePlugIn* GetAt(int index) const { return m_plugIns[index]; }
    const std::string& GetFolder() const { return m_folder; }

    // True when the file name is a plug-in candidate: longer than four
    // characters and ending in ".dll" in any letter case.
    static bool IsPlugInFileName(const char* name);
    // The Office presence probe for the "Outlook" plug-in.
    static bool IsOfficePresent();

private:
    void Scan();

    std::string m_folder;
    std::vector<CEnginePlugIn*> m_plugIns;
};

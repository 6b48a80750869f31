#include "EnginePlugInManager.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "EnginePlugIn.h"
#include "Handles.h"

namespace {
const char* const kOfficeKeys[] = {
    "Software\\Microsoft\\Office\\Outlook", "Software\\Microsoft\\Office\\8.0",
    "Software\\Microsoft\\Office\\9.0",     "Software\\Microsoft\\Office\\10.0",
    "Software\\Microsoft\\Office\\11.0",
};
}

CEnginePlugInManager::CEnginePlugInManager(const std::string& folder) : m_folder(folder) { Scan(); }

CEnginePlugInManager::~CEnginePlugInManager() {
    // Released in name order, the first record each time.
    while (!m_plugIns.empty()) {
        CEnginePlugIn* plugIn = m_plugIns.front();
        plugIn->Unload();
        delete plugIn;
        m_plugIns.erase(m_plugIns.begin());
    }
}

bool CEnginePlugInManager::IsPlugInFileName(const char* name) {
    size_t length = strlen(name);
    if (length <= 4) return false;
    const char* extension = name + length - 4;
    const char* dll = ".dll";
    for (int i = 0; i < 4; ++i)
        if (tolower(static_cast<unsigned char>(extension[i])) != dll[i]) return false;
    return true;
}

bool CEnginePlugInManager::IsOfficePresent() {
    for (const char* keyPath : kOfficeKeys) {
        CKey key;
        if (key.Open(HKEY_CURRENT_USER, keyPath, KEY_ALL_ACCESS) == ERROR_SUCCESS) return true;
    }
    return false;
}

void CEnginePlugInManager::Scan() {
    WIN32_FIND_DATAA entry;
    CFindHandle search;
    std::string pattern = m_folder + "\\*.*";
    for (bool found = search.First(pattern.c_str(), entry); found; found = search.Next(entry)) {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        if (!IsPlugInFileName(entry.cFileName)) continue;
        CEnginePlugIn* plugIn = new CEnginePlugIn();
        if (!plugIn->Load(m_folder + "\\" + entry.cFileName)) {
            delete plugIn;
            continue;
        }
        // Outlook's plug-in is offered only where Office has left its keys; a
        // dropped plug-in is released at once.
        if (plugIn->GetName() == "Outlook" && !IsOfficePresent()) {
            plugIn->Unload();
            delete plugIn;
            continue;
        }
        m_plugIns.push_back(plugIn);
    }
    std::stable_sort(m_plugIns.begin(), m_plugIns.end(),
                     [](CEnginePlugIn* a, CEnginePlugIn* b) { return a->GetName() < b->GetName(); });
}

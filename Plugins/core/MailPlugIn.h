// CMailPlugIn: one engine of a plug-in. Each plug-in holds two, the backup
// engine (the mail client's current data) and the restore engine (the content
// of one backup archive).
#pragma once
#include <string>

#include "PlugInContract.h"

class CMailPlugIn {
public:
    CMailPlugIn();   // loads the display name, string 1000 of the satellite library
    virtual ~CMailPlugIn();
    CMailPlugIn(const CMailPlugIn&) = delete;
    CMailPlugIn& operator=(const CMailPlugIn&) = delete;

    bool IsEnabled() const { return m_enabled; }
    // Sets or clears the flag and reaches every container of the list.
    void Enable();
    void Disable();

    const std::string& GetDisplayName() const { return m_displayName; }
    const std::string& GetPath() const { return m_path; }
    void SetPath(const std::string& path) { m_path = path; }

    IdentityList& GetIdentityList() { return m_identities; }
    CGlobalBackupItem* GetAddressBook() const { return m_addressBook; }
    void SetAddressBook(CGlobalBackupItem* addressBook);   // takes ownership, replaces any earlier one

    // Destroys the containers from the first to the last, then the address book.
    void ClearIdentities();

private:
    bool m_enabled = false;
    std::string m_displayName;
    std::string m_path;
    IdentityList m_identities;
    CGlobalBackupItem* m_addressBook = nullptr;
};

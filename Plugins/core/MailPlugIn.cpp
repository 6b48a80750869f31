#include "MailPlugIn.h"

#include "PlugInModule.h"

CMailPlugIn::CMailPlugIn() : m_displayName(LoadPlugInString(kStringDisplayName)) {}

// Containers are destroyed by UninitBackup / UninitRestore, which the host
// calls before DestroyPlugIn; whatever is still held here is released too, so
// nothing leaks when a host skips them.
CMailPlugIn::~CMailPlugIn() { ClearIdentities(); }

void CMailPlugIn::Enable() {
    m_enabled = true;
    for (CBackupIdentity* identity : m_identities) identity->Enable();
}

void CMailPlugIn::Disable() {
    m_enabled = false;
    for (CBackupIdentity* identity : m_identities) identity->Disable();
}

void CMailPlugIn::SetAddressBook(CGlobalBackupItem* addressBook) {
    if (m_addressBook != addressBook) delete m_addressBook;
    m_addressBook = addressBook;
}

void CMailPlugIn::ClearIdentities() {
    for (CBackupIdentity* identity : m_identities) delete identity;
    m_identities.clear();
    delete m_addressBook;
    m_addressBook = nullptr;
}

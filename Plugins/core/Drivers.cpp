#include "Drivers.h"

#include "Log.h"
#include "MailPlugIn.h"

// Backup and restore arrive with the archive wrapper and the items; until
// then every request fails, is logged, and touches nothing.
bool RunBackup(CMailPlugIn& engine, const std::string& targetFolder) {
    engine.SetPath(targetFolder);
    LOG_ERROR("Failed to show backup progress dialog");
    return false;
}

bool InitRestoreEngine(CMailPlugIn& engine, const std::string& archivePath) {
    engine.SetPath(archivePath);
    LOG_ERROR("Failed to open zip file %s.", archivePath.c_str());
    return false;
}

bool RunRestore(CMailPlugIn&) {
    LOG_ERROR("Failed to show restore progress dialog");
    return false;
}

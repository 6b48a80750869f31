// The backup and restore drivers behind the Backup, Restore and InitRestore
// exports.
#pragma once
#include <string>

class CMailPlugIn;

bool RunBackup(CMailPlugIn& engine, const std::string& targetFolder);
bool InitRestoreEngine(CMailPlugIn& engine, const std::string& archivePath);
bool RunRestore(CMailPlugIn& engine);

// Start-up steps and names shared by the programs that host the plug-ins
// (Velmora.exe and VelmoraCmd.exe).
#pragma once
#include <windows.h>

#include <string>

// Enables one privilege that the token holds; false when it does not hold it.
bool EnablePrivilege(HANDLE token, const char* name);
// Enables the backup and restore privileges of this process, which the
// registry's hive functions need; false, logged, unless both are on.
bool EnableBackupPrivileges();

// "VLLocaleSatellite_KOR.dll" for exactly "KOR", the English one otherwise.
const char* SatelliteFileName(const std::string& languageCode);
// Loads the satellite of the user's interface language from the home
// directory (FindHomeDirectory) and makes it the resource module; false, and
// the program's own resources stay, when it cannot be loaded.
bool LoadProgramSatellite();

// HKLM "Velmora Home", failing that the program file's folder; no trailing
// backslash.
std::string FindProgramHome();

// The mail client an archive belongs to: its file name without the extension
// and without the " (incomplete)" of a backup that could not save everything.
std::string ClientNameOfArchive(const std::string& archivePath);

// True when a process named "msimn.exe" or "outlook.exe" runs: its files and
// keys may change under a backup or restore. False, logged, when the process
// list cannot be read.
bool IsMailClientRunning();

// The system summary "summary.txt" that ties a backup archive to the user,
// the Windows version and the mail-client version it was made on.
#pragma once
#include <windows.h>

#include <cstdio>
#include <string>

class CSystemInfo;
class CUnzipper;

// The three summary lines, each ending in a bare line feed.
std::string FormatSystemSummary(const CSystemInfo& info);

// Creates or empties the file and writes the summary in text mode, so each
// line ends in CR LF on disk. False, and logged, when it cannot be written.
bool WriteSystemSummary(const std::string& path, const CSystemInfo& info);
// The same with the plug-in's own system information.
bool WriteSystemSummary(const std::string& path);

// Why a summary does not fit the current system.
struct SummaryVerdict {
    UINT message = 0;             // 0: it fits; else string 4000 (user), 4001 (client version), 4002 (system)
    std::string storedUserName;   // the archive's user name, for message 4000
    bool keyed = false;           // some line read starts with a known key
};

// Reads a summary line by line (at most 511 characters per read) and tests
// each line that starts with a known key; the first mismatch decides. Only
// the platform id, the Windows major version, the mail client's major version
// and the user name (without regard to case) are compared.
SummaryVerdict CompareSystemSummary(FILE* summary, const CSystemInfo& current);

// A mismatch message: the template's "%s" replaced by the stored user name and
// "%%" by "%", cut at a character boundary to fit a 512-byte buffer.
std::string FormatSummaryMessage(const std::string& messageTemplate, const std::string& storedUserName);

// Extracts the archive's first "summary.txt" (wherever it lies in the
// archive) into the temporary folder and compares it with the current system.
// A mismatch is shown in a message box without owner, with texts from the
// given module, and gives false. Refused like a missing summary (logged,
// false, no box): a summary over 4 KiB, one with a control byte other than
// CR, LF and TAB, one with no line that starts with a known key, and an
// archive whose "summary.txt" entries differ.
bool VerifySystemSummary(CUnzipper& archive, const CSystemInfo& current, HMODULE strings);
// The same with the plug-in's own system information and satellite library.
bool VerifySystemSummary(CUnzipper& archive);

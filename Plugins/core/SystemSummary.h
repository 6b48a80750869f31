// The system summary "summary.txt" that ties a backup archive to the user,
// the Windows version and the mail-client version it was made on.
#pragma once
#include <windows.h>

#include <cstdio>
#include <string>

class CSystemInfo;

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
};

// Reads a summary line by line (at most 511 characters per read) and tests
// each line that starts with a known key; the first mismatch decides. Only
// the platform id, the Windows major version, the mail client's major version
// and the user name (without regard to case) are compared.
SummaryVerdict CompareSystemSummary(FILE* summary, const CSystemInfo& current);

// A mismatch message: the template's "%s" replaced by the stored user name and
// "%%" by "%", cut at a character boundary to fit a 512-byte buffer.
std::string FormatSummaryMessage(const std::string& messageTemplate, const std::string& storedUserName);

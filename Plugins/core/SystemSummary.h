// The system summary "summary.txt" that ties a backup archive to the user,
// the Windows version and the mail-client version it was made on.
#pragma once
#include <string>

class CSystemInfo;

// The three summary lines, each ending in a bare line feed.
std::string FormatSystemSummary(const CSystemInfo& info);

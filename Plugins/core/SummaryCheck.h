// Whether a backup archive was made for this user, Windows version and
// mail-client version.
#pragma once

class CUnzipper;

// Reads the archive's "summary.txt" (the first of that base name) and
// compares it with the current system. A mismatch is shown in a message box
// (strings 4000 to 4003) before false is returned; other failures are logged.
bool VerifySystemSummary(CUnzipper& unzipper);

// Reads an archive back from disk and checks every entry: the read-back that
// a backup runs on the archive it has just written before the archive gets
// its name, and the check of an archive a user names.
#pragma once
#include <windows.h>

#include <vector>

#include "Zipper.h"

struct ArchiveCheck {
    bool ran = false;              // the archive was opened and read
    bool passed = false;
    unsigned long entries = 0;     // entries read back and found sound
    ULONGLONG bytes = 0;           // their data, uncompressed
    DWORD milliseconds = 0;        // time the check took
    char entry[MAX_PATH + 1] = {}; // the entry that failed; empty when all passed or the archive as a whole failed
    char reason[256] = {};         // why it failed
};

// Every entry's data inflated and checked against its CRC-32 and sizes (two
// readers of the file at once, each on its own thread), and the layout
// checked as CUnzipper::CheckStructure does. A failure names the first
// failing entry in archive order. With written, the
// central directory must hold exactly those entries, in that order, under
// those names, and each whole one with the CRC-32 and size that were read
// from its source. stop: null, or a flag that abandons the check (it fails).
bool VerifyArchive(const char* path, const std::vector<ZipWrittenEntry>* written, ArchiveCheck& check,
                   const volatile bool* stop = nullptr);

// The backup's read-back of its freshly written archive: VerifyArchive
// against what the writer wrote; a failure is logged with the entry.
bool VerifyWrittenArchive(const char* path, CZipper& zipper, ArchiveCheck& check,
                          const volatile bool* stop);
// The one line that ends a backup's log: entries verified, bytes, time.
void LogArchiveCheck(const ArchiveCheck& check);

// Tests set this environment variable (to any value) to have
// VerifyWrittenArchive flip one byte in the middle of the written archive
// before it reads it back; nothing else reads it.
extern const char* const kDamageBeforeCheckVariable;

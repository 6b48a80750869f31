// How Wrenfold finds Outlook Express identities: in the live registry for a
// backup, in an archive's entry names for a restore.
#pragma once
#include <windows.h>

#include <string>

#include "PlugInContract.h"

class CMailPlugIn;
struct ZipEntryInfo;

// Lists the Outlook Express identities of the live registry into the backup
// engine, each with its messages and accounts items, and finds the address book.
void BuildOEBackupList(CMailPlugIn& engine);

// Places one archive entry (name with "\" separators) in the restore engine's
// list. Entries are placed by their path components: "<top>\<id>$<user>\..."
// belongs to the identity of that folder whatever the user name holds. A
// file entry makes the identity and item it belongs to when the archive has
// no folder entry for them, so identities and items come in the order the
// archive first names them.
void CatalogueOEEntry(CMailPlugIn& engine, const ZipEntryInfo& entry);

// Splits an identity folder name "<id>$<user>" after the id's closing brace
// (at the last "$" when there is no "}$"); false when it has no "$".
bool SplitIdentityFolder(const std::string& folder, std::string& id, std::string& userName);

// Restores an archived identity; only when its key is back is a current
// identity of the same user name (the first, and never the same id) deleted.
bool RestoreOEContainer(CMailPlugIn& backupEngine, CBackupIdentity& container, const std::string& archive,
                        CUnzipper& unzipper, WorkerContext* context);

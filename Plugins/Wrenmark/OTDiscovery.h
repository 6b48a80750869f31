// How Wrenmark finds Outlook mail profiles: in the live registry for a
// backup, in an archive's entry names for a restore.
#pragma once
#include <string>

class CMailPlugIn;
struct ZipEntryInfo;

// Lists the profiles of both profile roots into the backup engine, the first
// root's first. A name under both roots is listed once, from the first root:
// an archive holds one folder, and a restore one key, per name.
void BuildOTBackupList(CMailPlugIn& engine);

// Places one archive entry (name with "\" separators) in the restore engine's
// list by its path components: "<top>\<profile>\..." belongs to the profile
// of that folder, whatever the profile's name holds. A file entry makes the
// profile and item it belongs to when the archive has no folder entry for
// them, so profiles and items come in the order the archive first names them.
void CatalogueOTEntry(CMailPlugIn& engine, const ZipEntryInfo& entry);

// How Wrenmark finds Outlook mail profiles: in the live registry for a
// backup, in an archive's entry names for a restore.
#pragma once
#include <string>

class CMailPlugIn;

// Lists the profiles of both profile roots into the backup engine, the first
// root's first; a profile under both roots is listed twice.
void BuildOTBackupList(CMailPlugIn& engine);

// Places one archive entry (name with "\" separators) in the restore engine's
// list by its path components: "<top>\<profile>\..." belongs to the profile
// of that folder, whatever the profile's name holds.
void CatalogueOTEntry(CMailPlugIn& engine, const std::string& name, bool isFolder);

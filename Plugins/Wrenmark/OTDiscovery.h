#pragma once
class CMailPlugIn;
// Lists the Outlook mail profiles of both profile roots into the backup engine.
void BuildOTBackupList(CMailPlugIn& engine);

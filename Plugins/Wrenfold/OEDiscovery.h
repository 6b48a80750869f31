#pragma once
class CMailPlugIn;
// Lists the Outlook Express identities of the live registry into the backup engine.
void BuildOEBackupList(CMailPlugIn& engine);

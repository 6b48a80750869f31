#include "OEDiscovery.h"

#include "MailPlugIn.h"

// Identities arrive with the Outlook Express items.
void BuildOEBackupList(CMailPlugIn&) {}

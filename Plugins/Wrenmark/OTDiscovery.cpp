#include "OTDiscovery.h"

#include "MailPlugIn.h"

// Profiles arrive with the Outlook items.
void BuildOTBackupList(CMailPlugIn&) {}

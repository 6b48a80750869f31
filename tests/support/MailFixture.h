// A synthetic, deterministic mail installation for tests and the demo: what
// Outlook Express and Outlook keep in the current user's registry and profile
// folder, with the value names and types the mail clients really use.
//
// Registry data goes under the process's HKEY_CURRENT_USER (a ScratchRegistry
// in tests); files go under a profile folder that stands for %UserProfile%
// (the store roots are written as "%UserProfile%\..." and expand through the
// USERPROFILE environment variable, which SetUp points at that folder).
#pragma once
#include <string>
#include <vector>

namespace mailfixture {

struct OEIdentity {
    std::string id;         // "{GUID}", the subkey name under "Identities"
    std::string userName;   // "Username"
    std::string storeRoot;  // as stored: "%UserProfile%\...", REG_EXPAND_SZ
};

// The identities SetUp creates, in creation order.
const std::vector<OEIdentity>& Identities();

// Where a store root lands for the given profile folder.
std::string ExpandedStoreFolder(const std::string& profileFolder, const OEIdentity& identity);
std::string WabPath(const std::string& profileFolder);
std::string OutlookDataFolder(const std::string& profileFolder);

// Registry keys (under HKEY_CURRENT_USER) that the installation consists of.
extern const char* const kIdentitiesKey;          // "Identities"
extern const char* const kSharedAccountsKey;      // IAM "Accounts"
extern const char* const kWabKey;                 // "Software\Microsoft\WAB"
extern const char* const kOutlookProfilesKey;     // NT Windows Messaging Subsystem profiles
extern const char* const kOutlookAccountsKey;     // "...\OMI Account Manager"
extern const char* const kOfficePresenceKey;      // "Software\Microsoft\Office\11.0"
extern const char* const kOutlookLegacyProfilesKey;   // the older Windows Messaging Subsystem profiles
extern const char* const kOutlookProfileName;     // "Outlook", the profile SetUp makes

// Sets up Outlook Express (identities, stores, accounts, address book) and
// Outlook (profile, OMI accounts, Office key, data folder) for the profile
// folder, and sets USERPROFILE to it. Also installs the mail clients'
// program stand-ins when withProgramFiles is true. True when all of it worked.
bool SetUp(const std::string& profileFolder, bool withProgramFiles = true);

// Writes one identity (key, settings, store files); used by SetUp and by
// tests that need identities of their own.
bool AddIdentity(const std::string& profileFolder, const OEIdentity& identity, int seed);

// Writes an Outlook mail profile key root\name (root: kOutlookProfilesKey or
// kOutlookLegacyProfilesKey) whose values depend on seed; seed 0 is SetUp's.
bool AddOutlookProfile(const std::string& profileFolder, const std::string& root, const std::string& name, int seed);

// Removes everything SetUp made (registry and files). True when all is gone.
bool Remove(const std::string& profileFolder);
// Removes one identity's key and its store folder.
bool RemoveIdentity(const std::string& profileFolder, const OEIdentity& identity);

// A text description of the installation's state: every registry tree as
// DumpKeyTree gives it, and every file below the profile folder with its size
// and a 64-bit FNV-1a digest. Equal snapshots mean equal installations.
std::string Snapshot(const std::string& profileFolder);

// Deterministic file content: a .dbx-like message store file (a binary header,
// then messages with text and base64 attachments) of about size bytes.
std::string MakeStoreFile(unsigned seed, size_t size);

}  // namespace mailfixture

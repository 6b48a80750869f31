#include "MailFixture.h"

#include <windows.h>

#include <cstdio>

#include "StandIns.h"
#include "TestSupport.h"

namespace mailfixture {

const char* const kIdentitiesKey = "Identities";
const char* const kSharedAccountsKey = "Software\\Microsoft\\Internet Account Manager\\Accounts";
const char* const kWabKey = "Software\\Microsoft\\WAB";
const char* const kOutlookProfilesKey =
    "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles";
const char* const kOutlookAccountsKey = "Software\\Microsoft\\Office\\Outlook\\OMI Account Manager";
const char* const kOfficePresenceKey = "Software\\Microsoft\\Office\\11.0";
const char* const kOutlookLegacyProfilesKey = "Software\\Microsoft\\Windows Messaging Subsystem\\Profiles";
const char* const kOutlookProfileName = "Outlook";

using namespace testsupport;

namespace {
const char* const kAccountManagerKey = "Software\\Microsoft\\Internet Account Manager";
const char* const kOESettings = "\\Software\\Microsoft\\Outlook Express\\5.0";
const char* const kUserShellFolders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

// A small linear congruential generator: the same seed gives the same bytes
// on every machine.
class CRandom {
public:
    explicit CRandom(unsigned seed) : m_state(seed * 2654435761u + 12345u) {}
    unsigned Next() {
        m_state = m_state * 1664525u + 1013904223u;
        return m_state >> 8;
    }
    unsigned Below(unsigned n) { return Next() % n; }

private:
    unsigned m_state;
};

const char* const kWords[] = {
    "meeting", "invoice", "quarter", "schedule", "report", "draft", "budget", "review", "thanks",
    "please", "attached", "tomorrow", "office", "customer", "order", "shipment", "project", "notes",
    "agenda", "friday", "call", "update", "contract", "regards", "question", "photos", "weekend"};
const char* const kPeople[] = {"alice@example.org", "bob@example.net", "carol@mail.example.com",
                               "dmitri@example.org", "eun-ji@example.co.kr", "frank@example.com"};

std::string Base64Block(CRandom& random, size_t bytes) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (size_t i = 0; i < bytes; ++i) {
        text += kAlphabet[random.Below(64)];
        if (i % 76 == 75) text += "\r\n";
    }
    return text + "\r\n";
}

std::string Message(CRandom& random, int number) {
    char header[512];
    const char* from = kPeople[random.Below(6)];
    const char* to = kPeople[random.Below(6)];
    snprintf(header, sizeof(header),
             "Return-Path: <%s>\r\nFrom: <%s>\r\nTo: <%s>\r\nSubject: %s %s #%d\r\n"
             "Date: Mon, %d Mar 2004 %02d:%02d:00 +0900\r\nMessage-ID: <%08x.%d@example.org>\r\n"
             "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b%d\"\r\n"
             "X-Mailer: Microsoft Outlook Express 6.00.2900.2180\r\n\r\n--b%d\r\n"
             "Content-Type: text/plain; charset=\"iso-8859-1\"\r\n\r\n",
             from, from, to, kWords[random.Below(27)], kWords[random.Below(27)], number,
             1 + static_cast<int>(random.Below(28)), static_cast<int>(random.Below(24)),
             static_cast<int>(random.Below(60)), random.Next(), number, number, number);
    std::string text = header;
    int words = 40 + static_cast<int>(random.Below(200));
    for (int i = 0; i < words; ++i) {
        text += kWords[random.Below(27)];
        text += (i % 12 == 11) ? "\r\n" : " ";
    }
    text += "\r\n";
    if (random.Below(3) == 0) {
        char part[160];
        snprintf(part, sizeof(part),
                 "--b%d\r\nContent-Type: application/octet-stream; name=\"scan%d.jpg\"\r\n"
                 "Content-Transfer-Encoding: base64\r\n\r\n", number, number);
        text += part;
        text += Base64Block(random, 600 + random.Below(6000));
    }
    char end[32];
    snprintf(end, sizeof(end), "--b%d--\r\n", number);
    return text + end;
}

bool WriteStoreFile(const std::string& path, unsigned seed, size_t size) {
    return WriteFileBytes(path, MakeStoreFile(seed, size));
}

std::string Binary(std::initializer_list<unsigned char> bytes) {
    return std::string(bytes.begin(), bytes.end());
}

bool WriteAccount(const std::string& key, const char* name, const char* pop3, const char* user,
                  const char* smtp, const char* displayName, const char* email) {
    bool ok = SetString(HKEY_CURRENT_USER, key, "Account Name", name);
    ok &= SetDword(HKEY_CURRENT_USER, key, "Connection Type", 3);
    ok &= SetString(HKEY_CURRENT_USER, key, "POP3 Server", pop3);
    ok &= SetString(HKEY_CURRENT_USER, key, "POP3 User Name", user);
    ok &= SetBinary(HKEY_CURRENT_USER, key, "POP3 Password2",
                    Binary({0x01, 0x02, 0x00, 0x00, 0x6e, 0x1f, 0x9a, 0x44, 0xc3, 0x05, 0x7d, 0x20}));
    ok &= SetDword(HKEY_CURRENT_USER, key, "POP3 Prompt for Password", 0);
    ok &= SetDword(HKEY_CURRENT_USER, key, "POP3 Port", 110);
    ok &= SetDword(HKEY_CURRENT_USER, key, "POP3 Secure Connection", 0);
    ok &= SetDword(HKEY_CURRENT_USER, key, "Leave Mail On Server", 0);
    ok &= SetString(HKEY_CURRENT_USER, key, "SMTP Server", smtp);
    ok &= SetDword(HKEY_CURRENT_USER, key, "SMTP Port", 25);
    ok &= SetString(HKEY_CURRENT_USER, key, "SMTP Display Name", displayName);
    ok &= SetString(HKEY_CURRENT_USER, key, "SMTP Email Address", email);
    return ok;
}

bool SetUpAccounts() {
    bool ok = SetDword(HKEY_CURRENT_USER, kAccountManagerKey, "Account Name", 5);
    ok &= SetString(HKEY_CURRENT_USER, kAccountManagerKey, "Default Mail Account", "00000002");
    ok &= SetString(HKEY_CURRENT_USER, kAccountManagerKey, "Default LDAP Account", "00000001");
    std::string accounts = kSharedAccountsKey;
    std::string ldap = accounts + "\\00000001";
    ok &= SetString(HKEY_CURRENT_USER, ldap, "Account Name", "Active Directory");
    ok &= SetString(HKEY_CURRENT_USER, ldap, "LDAP Server", "ldap.example.org");
    ok &= SetString(HKEY_CURRENT_USER, ldap, "LDAP Search Base", "dc=example,dc=org");
    ok &= SetDword(HKEY_CURRENT_USER, ldap, "LDAP Resolve Flag", 1);
    ok &= SetDword(HKEY_CURRENT_USER, ldap, "LDAP Timeout", 60);
    ok &= WriteAccount(accounts + "\\00000002", "mail.example.org", "mail.example.org", "alice.martin",
                       "smtp.example.org", "Alice Martin", "alice@example.org");
    ok &= WriteAccount(accounts + "\\00000003", "pop.example.net", "pop.example.net", "bokafor",
                       "smtp.example.net", "Bob Okafor", "bob@example.net");
    std::string news = accounts + "\\00000004";
    ok &= SetString(HKEY_CURRENT_USER, news, "Account Name", "news.example.org");
    ok &= SetDword(HKEY_CURRENT_USER, news, "Connection Type", 3);
    ok &= SetString(HKEY_CURRENT_USER, news, "NNTP Server", "news.example.org");
    ok &= SetDword(HKEY_CURRENT_USER, news, "NNTP Port", 119);
    ok &= SetString(HKEY_CURRENT_USER, news, "NNTP Display Name", "Alice Martin");
    ok &= SetString(HKEY_CURRENT_USER, news, "NNTP Email Address", "alice@example.org");
    return ok;
}

std::string LoginName() {
    char name[257] = {};
    DWORD size = sizeof(name);
    if (!GetUserNameA(name, &size) || !name[0]) return "user";
    return name;
}

bool SetUpAddressBook(const std::string& profileFolder) {
    std::string path = WabPath(profileFolder);
    std::string folder = path.substr(0, path.rfind('\\'));
    bool ok = MakeDirs(folder);
    // The address book's own signature, then record pages.
    std::string content = Binary({0x9c, 0xcb, 0xcb, 0x8d, 0x13, 0x75, 0xd2, 0x11,
                                  0x91, 0x58, 0x00, 0xc0, 0x4f, 0x79, 0x56, 0xa4});
    CRandom random(77);
    while (content.size() < 180 * 1024) {
        const char* person = kPeople[random.Below(6)];
        content += std::string(person) + '\0' + kWords[random.Below(27)] + '\0';
        for (int i = 0; i < 64; ++i) content += static_cast<char>(random.Below(256));
    }
    ok &= WriteFileBytes(path, content);
    std::string wab4 = std::string(kWabKey) + "\\WAB4";
    ok &= SetString(HKEY_CURRENT_USER, wab4 + "\\Wab File Name", "", path);
    ok &= SetDword(HKEY_CURRENT_USER, wab4, "FirstRun", 1);
    ok &= SetDword(HKEY_CURRENT_USER, wab4, "OlkContactRefresh", 0);
    ok &= SetBinary(HKEY_CURRENT_USER, std::string(kWabKey) + "\\WAB Sort State", "State",
                    Binary({0x00, 0x30, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00}));
    ok &= SetString(HKEY_CURRENT_USER, std::string(kWabKey) + "\\DLLPath", "",
                    "C:\\Program Files\\Common Files\\System\\wab32.dll");
    return ok;
}

bool SetUpOutlook(const std::string& profileFolder) {
    bool ok = SetString(HKEY_CURRENT_USER, kOutlookProfilesKey, "DefaultProfile", kOutlookProfileName);
    ok &= AddOutlookProfile(profileFolder, kOutlookProfilesKey, kOutlookProfileName, 0);
    ok &= SetString(HKEY_CURRENT_USER, kOutlookAccountsKey, "Default Mail Account", "00000001");
    ok &= WriteAccount(std::string(kOutlookAccountsKey) + "\\Accounts\\00000001", "mail.example.org",
                       "mail.example.org", "alice.martin", "smtp.example.org", "Alice Martin",
                       "alice@example.org");
    std::string office = std::string(kOfficePresenceKey) + "\\Outlook";
    ok &= SetDword(HKEY_CURRENT_USER, office, "LastUILanguage", 1033);
    ok &= SetBinary(HKEY_CURRENT_USER, office + "\\Setup", "First-Run", Binary({0x01, 0x00, 0x00, 0x00}));
    // Spelled out: Wine expands %USERPROFILE% here to its own profile folder,
    // not to the environment's.
    ok &= SetString(HKEY_CURRENT_USER, kUserShellFolders, "Local AppData",
                    profileFolder + "\\Local Settings\\Application Data", REG_EXPAND_SZ);

    std::string folder = OutlookDataFolder(profileFolder);
    std::string pst = folder + "\\Outlook.pst";
    ok &= MakeDirs(folder);
    std::string pstData = "!BDN" + Binary({0x0e, 0x00, 0x00, 0x00, 0x53, 0x4d, 0x0e, 0x00, 0x13, 0x00, 0x01, 0x01});
    pstData += MakeStoreFile(501, 600 * 1024);
    ok &= WriteFileBytes(pst, pstData);
    ok &= WriteFileBytes(folder + "\\extend.dat", MakeStoreFile(502, 3 * 1024));
    ok &= WriteFileBytes(folder + "\\outcmd.dat", MakeStoreFile(503, 9 * 1024));
    ok &= WriteFileBytes(folder + "\\Outlook.NK2", MakeStoreFile(504, 2 * 1024));
    // An archive file kept in a sub-folder of the data folder.
    ok &= MakeDirs(folder + "\\Archives");
    ok &= WriteFileBytes(folder + "\\Archives\\archive.pst", pstData.substr(0, 16) + MakeStoreFile(505, 40 * 1024));
    return ok;
}

std::string ProfileRelative(const std::string& storeRoot) {
    const std::string prefix = "%UserProfile%";
    return storeRoot.compare(0, prefix.size(), prefix) == 0 ? storeRoot.substr(prefix.size()) : storeRoot;
}

uint64_t Fnv1a(const std::string& bytes) {
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

void SnapshotFolder(const std::string& folder, std::string& text) {
    text += "folder " + folder + (DirExistsAt(folder) ? "\n" : " (missing)\n");
    for (const auto& file : ReadTree(folder)) {
        char line[96];
        snprintf(line, sizeof(line), " size=%lu fnv=%016llx\n", static_cast<unsigned long>(file.second.size()),
                 static_cast<unsigned long long>(Fnv1a(file.second)));
        text += "  " + file.first + line;
    }
}
}  // namespace

std::string MakeStoreFile(unsigned seed, size_t size) {
    CRandom random(seed);
    // A store file opens with its signature and a header page.
    std::string content = Binary({0xcf, 0xad, 0x12, 0xfe, 0xc5, 0xfd, 0x74, 0x6f,
                                  0x66, 0xe3, 0xd1, 0x11, 0x9a, 0x4e, 0x00, 0xc0});
    for (int i = 0; i < 0x24bc - 16 && content.size() < size; ++i)
        content += static_cast<char>(i < 64 ? random.Below(256) : 0);
    for (int number = 1; content.size() < size; ++number) content += Message(random, number);
    content.resize(size);
    return content;
}

const std::vector<OEIdentity>& Identities() {
    static const std::vector<OEIdentity> identities = {
        {"{C9F3D3A4-18E6-4D2B-9A1B-4F6E2C8D1A10}", "Main Identity",
         "%UserProfile%\\Local Settings\\Application Data\\Identities\\{C9F3D3A4-18E6-4D2B-9A1B-4F6E2C8D1A10}\\Microsoft\\Outlook Express"},
        {"{5B2E8F61-3A7C-4E19-B0D4-9C1F7A3E6B25}", "Alice Martin",
         "%UserProfile%\\Local Settings\\Application Data\\Identities\\{5B2E8F61-3A7C-4E19-B0D4-9C1F7A3E6B25}\\Microsoft\\Outlook Express"},
        {"{E0A47C93-6D21-48F5-A3B8-2F9D5C1E7A46}", "Bob Okafor",
         "%UserProfile%\\Local Settings\\Application Data\\Identities\\{E0A47C93-6D21-48F5-A3B8-2F9D5C1E7A46}\\Microsoft\\Outlook Express"},
    };
    return identities;
}

std::string ExpandedStoreFolder(const std::string& profileFolder, const OEIdentity& identity) {
    return profileFolder + ProfileRelative(identity.storeRoot);
}

std::string WabPath(const std::string& profileFolder) {
    return profileFolder + "\\Application Data\\Microsoft\\Address Book\\" + LoginName() + ".wab";
}

std::string OutlookDataFolder(const std::string& profileFolder) {
    return profileFolder + "\\Local Settings\\Application Data\\Microsoft\\Outlook";
}

bool AddOutlookProfile(const std::string& profileFolder, const std::string& root, const std::string& name, int seed) {
    std::string profile = root + "\\" + name;
    // MAPI keeps profile sections as property tags holding binary data.
    std::string store = profile + "\\13dbb0c8aa05101a9bb000aa002fc45a";
    std::string pst = OutlookDataFolder(profileFolder) + (seed ? "\\" + name + ".pst" : "\\Outlook.pst");
    bool ok = SetBinary(HKEY_CURRENT_USER, store, "001e6700", pst + '\0');
    ok &= SetBinary(HKEY_CURRENT_USER, store, "001e3001", std::string("Personal Folders") + '\0');
    ok &= SetBinary(HKEY_CURRENT_USER, store, "00033009", Binary({0x00, 0x00, 0x00, static_cast<unsigned char>(seed)}));
    std::string services = profile + "\\9207f3e0a3b11019908b08002b2a56c2";
    ok &= SetBinary(HKEY_CURRENT_USER, services, "01023d00",
                    Binary({0x5c, 0x1a, 0x3f, 0xe2, 0x81, 0x0e, 0x6a, 0x4d, 0x9b, 0x2f, 0x11, 0x68, 0x2c, 0x40, 0x7e,
                            static_cast<unsigned char>(0xd5 + seed)}));
    return ok;
}

bool AddIdentity(const std::string& profileFolder, const OEIdentity& identity, int seed) {
    std::string key = std::string(kIdentitiesKey) + "\\" + identity.id;
    bool ok = SetString(HKEY_CURRENT_USER, key, "Username", identity.userName);
    ok &= SetString(HKEY_CURRENT_USER, key, "User ID", identity.id);
    ok &= SetDword(HKEY_CURRENT_USER, key, "Identity Ordinal", static_cast<DWORD>(seed));
    ok &= SetDword(HKEY_CURRENT_USER, key, "Use Password", 0);
    ok &= SetBinary(HKEY_CURRENT_USER, key, "Password", Binary({0x00, 0x00, 0x00, 0x00}));
    std::string oe = key + kOESettings;
    ok &= SetString(HKEY_CURRENT_USER, oe, "Store Root", identity.storeRoot, REG_EXPAND_SZ);
    ok &= SetDword(HKEY_CURRENT_USER, oe, "First Run Done", 1);
    ok &= SetDword(HKEY_CURRENT_USER, oe, "Store Migrated", 1);
    ok &= SetDword(HKEY_CURRENT_USER, oe + "\\Mail", "Poll For Mail", 1800000);
    ok &= SetDword(HKEY_CURRENT_USER, oe + "\\Mail", "Warn on Delete", 1);
    ok &= SetDword(HKEY_CURRENT_USER, oe + "\\Mail", "Message Send HTML", static_cast<DWORD>(seed % 2));
    ok &= SetString(HKEY_CURRENT_USER, oe + "\\Signatures", "Default Signature", "00000000");
    ok &= SetString(HKEY_CURRENT_USER, key + "\\Software\\Microsoft\\Internet Account Manager",
                    "Default Mail Account", seed % 2 ? "00000002" : "00000003");

    std::string store = ExpandedStoreFolder(profileFolder, identity);
    ok &= MakeDirs(store + "\\Archive");
    unsigned base = static_cast<unsigned>(seed) * 100;
    ok &= WriteStoreFile(store + "\\Folders.dbx", base + 1, 48 * 1024 + seed * 512);
    ok &= WriteStoreFile(store + "\\Inbox.dbx", base + 2, 420 * 1024 + seed * 4096);
    ok &= WriteStoreFile(store + "\\Sent Items.dbx", base + 3, 150 * 1024 + seed * 2048);
    ok &= WriteStoreFile(store + "\\Deleted Items.dbx", base + 4, 64 * 1024);
    ok &= WriteStoreFile(store + "\\Drafts.dbx", base + 5, 12 * 1024);
    ok &= WriteStoreFile(store + "\\Outbox.dbx", base + 6, 9660);
    ok &= WriteStoreFile(store + "\\Offline.dbx", base + 7, 2048);
    ok &= WriteStoreFile(store + "\\Pop3uidl.dbx", base + 8, 9 * 1024 + 312);
    ok &= WriteStoreFile(store + "\\Archive\\Projects 2004.dbx", base + 9, 96 * 1024);
    // The same file name in the sub-folder and in the store itself.
    ok &= WriteStoreFile(store + "\\Archive\\Inbox.dbx", base + 10, 30 * 1024);
    return ok;
}

bool SetUp(const std::string& profileFolder, bool withProgramFiles) {
    SetEnvironmentVariableA("USERPROFILE", profileFolder.c_str());
    const auto& identities = Identities();
    bool ok = SetString(HKEY_CURRENT_USER, kIdentitiesKey, "Default User ID", identities[0].id);
    ok &= SetString(HKEY_CURRENT_USER, kIdentitiesKey, "Last User ID", identities[0].id);
    ok &= SetString(HKEY_CURRENT_USER, kIdentitiesKey, "Last Username", identities[0].userName);
    ok &= SetString(HKEY_CURRENT_USER, kIdentitiesKey, "Start As", "{00000000-0000-0000-0000-000000000000}");
    ok &= SetDword(HKEY_CURRENT_USER, kIdentitiesKey, "Identity Ordinal", static_cast<DWORD>(identities.size()));
    ok &= SetDword(HKEY_CURRENT_USER, kIdentitiesKey, "Migrated5", 1);
    for (size_t i = 0; i < identities.size(); ++i)
        ok &= AddIdentity(profileFolder, identities[i], static_cast<int>(i) + 1);
    ok &= SetUpAccounts();
    ok &= SetUpAddressBook(profileFolder);
    ok &= SetUpOutlook(profileFolder);
    if (withProgramFiles) ok &= InstallStandIns();
    return ok;
}

bool RemoveIdentity(const std::string& profileFolder, const OEIdentity& identity) {
    std::string key = std::string(kIdentitiesKey) + "\\" + identity.id;
    SHDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
    std::string store = ExpandedStoreFolder(profileFolder, identity);
    RemoveTree(store);
    return !KeyExists(HKEY_CURRENT_USER, key) && !DirExistsAt(store);
}

bool Remove(const std::string& profileFolder) {
    bool ok = true;
    for (const OEIdentity& identity : Identities()) ok &= RemoveIdentity(profileFolder, identity);
    for (const char* key : {kIdentitiesKey, kAccountManagerKey, kWabKey, kOutlookProfilesKey,
                            kOutlookLegacyProfilesKey, kOutlookAccountsKey, kOfficePresenceKey}) {
        SHDeleteKeyA(HKEY_CURRENT_USER, key);
        ok &= !KeyExists(HKEY_CURRENT_USER, key);
    }
    std::string wab = WabPath(profileFolder);
    DeleteFileA(wab.c_str());
    ok &= !FileExistsAt(wab);
    ok &= RemoveTree(OutlookDataFolder(profileFolder));
    ok &= RemoveTree(profileFolder + "\\Local Settings\\Application Data\\Identities") ||
          !DirExistsAt(profileFolder + "\\Local Settings\\Application Data\\Identities");
    return ok;
}

std::string Snapshot(const std::string& profileFolder) {
    std::string text;
    for (const char* key : {kIdentitiesKey, kAccountManagerKey, kWabKey, kOutlookProfilesKey,
                            kOutlookLegacyProfilesKey, kOutlookAccountsKey, kOfficePresenceKey})
        text += std::string("key ") + key + "\n" + DumpKeyTree(HKEY_CURRENT_USER, key) + "\n";
    for (const OEIdentity& identity : Identities()) SnapshotFolder(ExpandedStoreFolder(profileFolder, identity), text);
    std::string wab = WabPath(profileFolder);
    SnapshotFolder(wab.substr(0, wab.rfind('\\')), text);
    SnapshotFolder(OutlookDataFolder(profileFolder), text);
    return text;
}

}  // namespace mailfixture

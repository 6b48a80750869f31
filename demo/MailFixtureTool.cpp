// Sets up, removes or describes the synthetic mail installation in the
// current user's registry and profile folder, for the demo.
//   MailFixtureTool setup|remove|remove-identities|remove-outlook|snapshot <file>|identities
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "Log.h"
#include "MailFixture.h"
#include "TestSupport.h"

CLog g_Log;

namespace {
std::string ProfileFolder() {
    char folder[MAX_PATH] = {};
    DWORD length = GetEnvironmentVariableA("USERPROFILE", folder, sizeof(folder));
    return length > 0 && length < sizeof(folder) ? folder : "";
}
}  // namespace

int main(int argc, char** argv) {
    std::string profile = ProfileFolder();
    if (argc < 2 || profile.empty()) {
        fprintf(stderr, "usage: MailFixtureTool setup|remove|remove-identities|remove-outlook|snapshot <file>|identities\n");
        return 2;
    }
    const char* command = argv[1];
    if (strcmp(command, "setup") == 0) {
        mailfixture::Remove(profile);
        bool ok = mailfixture::SetUp(profile);
        printf("%s\n", ok ? "mail installation set up" : "setting up the mail installation failed");
        return ok ? 0 : 1;
    }
    if (strcmp(command, "remove") == 0) return mailfixture::Remove(profile) ? 0 : 1;
    if (strcmp(command, "remove-identities") == 0) {
        bool ok = true;
        for (const auto& identity : mailfixture::Identities()) {
            ok &= mailfixture::RemoveIdentity(profile, identity);
            printf("removed identity %s (%s) and its store folder\n", identity.userName.c_str(), identity.id.c_str());
        }
        std::string wab = mailfixture::WabPath(profile);
        ok &= DeleteFileA(wab.c_str()) != FALSE;
        printf("removed address book %s\n", wab.c_str());
        return ok ? 0 : 1;
    }
    if (strcmp(command, "remove-outlook") == 0) {
        // The profile and the accounts go; the profile root stays, as Outlook keeps it.
        std::string key = std::string(mailfixture::kOutlookProfilesKey) + "\\" + mailfixture::kOutlookProfileName;
        bool ok = SHDeleteKeyA(HKEY_CURRENT_USER, key.c_str()) == ERROR_SUCCESS;
        printf("removed profile key HKEY_CURRENT_USER\\%s\n", key.c_str());
        ok &= SHDeleteKeyA(HKEY_CURRENT_USER, mailfixture::kOutlookAccountsKey) == ERROR_SUCCESS;
        printf("removed account key HKEY_CURRENT_USER\\%s\n", mailfixture::kOutlookAccountsKey);
        std::string data = mailfixture::OutlookDataFolder(profile);
        ok &= testsupport::RemoveTree(data);
        printf("removed data folder %s\n", data.c_str());
        return ok ? 0 : 1;
    }
    if (strcmp(command, "snapshot") == 0 && argc == 3) {
        std::string text = mailfixture::Snapshot(profile);
        return testsupport::WriteFileBytes(argv[2], text) ? 0 : 1;
    }
    if (strcmp(command, "identities") == 0) {
        for (const auto& identity : mailfixture::Identities())
            printf("%s %s -> %s\n", identity.id.c_str(), identity.userName.c_str(),
                   mailfixture::ExpandedStoreFolder(profile, identity).c_str());
        return 0;
    }
    fprintf(stderr, "unknown command %s\n", command);
    return 2;
}

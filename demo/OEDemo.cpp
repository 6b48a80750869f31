// Drives an engine plug-in of a home directory through its exports, as the
// desktop program does, for the demo:
//   OEDemo [plug-in] backup <folder>     every identity with every item
//   OEDemo [plug-in] restore <archive>   every identity of the archive
//   OEDemo list <archive>                the archive's entries in stored order
// A restore can pause between InitRestore and Restore (VELMORA_DEMO_RESUME_FILE).
// The plug-in is the library's base name, Wrenfold unless given (Wrenmark).
// The home directory is HKLM "Software\Orridge\Velmora" "Velmora Home".
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "Handles.h"
#include "Log.h"
#include "ORRegistryUtil.h"
#include "PlugInContract.h"
#include "Unzipper.h"

CLog g_Log;

namespace {
class CPlugIn {
public:
    bool Load(const std::string& name) {
        std::string home;
        if (!ORRegistryUtil::ReadStringFromRegistry(HKEY_LOCAL_MACHINE, kProductKey, "Velmora Home", home)) {
            fprintf(stderr, "no Velmora Home in the registry\n");
            return false;
        }
        std::string path = home + "\\EnginePlugins\\" + name + ".dll";
        if (!m_library.Load(path.c_str())) {
            fprintf(stderr, "cannot load %s\n", path.c_str());
            return false;
        }
        Call<PFN_InitPlugIn>("InitPlugIn")();
        Call<PFN_InitBackup>("InitBackup")();
        return true;
    }
    ~CPlugIn() {
        if (!m_library.Get()) return;
        Call<PFN_UninitBackup>("UninitBackup")();
        Call<PFN_UninitRestore>("UninitRestore")();
        Call<PFN_DestroyPlugIn>("DestroyPlugIn")();
    }
    template <class F>
    F Call(const char* name) { return reinterpret_cast<F>(reinterpret_cast<void*>(m_library.Proc(name))); }
    // Outlook calls its identities mail profiles.
    void Print(unsigned char side, const char* where) {
        IdentityList* list = nullptr;
        Call<PFN_GetIdentities>("GetIdentities")(&list, side);
        std::string name;
        Call<PFN_GetName>("GetName")(&name);
        printf("%s %s: %u\n", name == "Outlook" ? "profiles" : "identities", where,
               static_cast<unsigned>(list->size()));
        for (CBackupIdentity* identity : *list) {
            printf("  \"%s\":", identity->GetName().c_str());
            for (CBackupItem* item : *identity->GetItems()) printf(" %s", item->GetName().c_str());
            printf("\n");
        }
    }

private:
    CLibrary m_library;
};

// With VELMORA_DEMO_RESUME_FILE set, a restore waits after InitRestore until
// that file exists (at most two minutes), so that a test can change the
// archive in between.
void WaitForResumeFile() {
    char file[MAX_PATH] = {};
    DWORD length = GetEnvironmentVariableA("VELMORA_DEMO_RESUME_FILE", file, sizeof(file));
    if (length == 0 || length >= sizeof(file)) return;
    for (int waited = 0; waited < 1200 && GetFileAttributesA(file) == INVALID_FILE_ATTRIBUTES; ++waited) Sleep(100);
}

int List(const char* archive) {
    CUnzipper unzipper;
    if (!unzipper.OpenArchive(archive)) {
        fprintf(stderr, "cannot open %s\n", archive);
        return 1;
    }
    for (bool more = unzipper.GotoFirstEntry(); more; more = unzipper.GotoNextEntry()) {
        ZipEntryInfo info = {};
        if (unzipper.GetEntryInfo(info))
            printf("  %10llu  %s\n", static_cast<unsigned long long>(info.uncompressedSize), info.name);
    }
    return 0;
}
}  // namespace

int main(int argc, char** argv) {
    std::string name = "Wrenfold";
    if (argc == 4) {
        name = argv[1];
        ++argv;
        --argc;
    }
    if (argc != 3) {
        fprintf(stderr, "usage: OEDemo [plug-in] backup <folder> | restore <archive> | list <archive>\n");
        return 2;
    }
    if (strcmp(argv[1], "list") == 0) return List(argv[2]);
    CPlugIn plugIn;
    if (!plugIn.Load(name)) return 1;
    int result = 0;
    if (strcmp(argv[1], "backup") == 0) {
        plugIn.Print(kBackupSide, "on this system");
        plugIn.Call<PFN_Enable>("Enable")();
        result = plugIn.Call<PFN_Backup>("Backup")(argv[2]);
        printf("Backup(%s) returned %d\n", argv[2], result);
    } else if (strcmp(argv[1], "restore") == 0) {
        result = plugIn.Call<PFN_InitRestore>("InitRestore")(argv[2]);
        printf("InitRestore(%s) returned %d\n", argv[2], result);
        fflush(stdout);
        if (result == 1) WaitForResumeFile();
        if (result == 1) {
            plugIn.Print(kRestoreSide, "in the archive");
            plugIn.Call<PFN_Enable>("Enable")();
            result = plugIn.Call<PFN_Restore>("Restore")();
            printf("Restore() returned %d\n", result);
        }
    } else {
        fprintf(stderr, "unknown command %s\n", argv[1]);
        return 2;
    }
    return result == 1 ? 0 : 1;
}

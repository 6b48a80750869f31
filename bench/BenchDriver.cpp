// Drives one engine plug-in of a home directory through its exports for the
// benchmark, and times the Backup or Restore export alone:
//   BenchDriver <plug-in dll> backup <folder>
//   BenchDriver <plug-in dll> restore <archive>
// Prints the export's own wall time and the process's peak working set as the
// process sees it (Wine takes it from the kernel's VmHWM), a check on what the
// benchmark samples from outside.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "Handles.h"
#include "Log.h"
#include "ORRegistryUtil.h"
#include "PlugInContract.h"

CLog g_Log;

namespace {
template <class F>
F Export(CLibrary& library, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(library.Proc(name)));
}

double Now() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 || (strcmp(argv[2], "backup") != 0 && strcmp(argv[2], "restore") != 0)) {
        fprintf(stderr, "usage: BenchDriver <plug-in dll> backup <folder> | restore <archive>\n");
        return 2;
    }
    std::string home;
    if (!ORRegistryUtil::ReadStringFromRegistry(HKEY_LOCAL_MACHINE, kProductKey, "Velmora Home", home)) {
        fprintf(stderr, "no Velmora Home in the registry\n");
        return 1;
    }
    std::string path = home + "\\EnginePlugins\\" + argv[1];
    CLibrary library;
    if (!library.Load(path.c_str())) {
        fprintf(stderr, "cannot load %s\n", path.c_str());
        return 1;
    }
    Export<PFN_InitPlugIn>(library, "InitPlugIn")();
    Export<PFN_InitBackup>(library, "InitBackup")();
    int result = 0;
    double seconds = 0, initSeconds = 0;
    if (strcmp(argv[2], "backup") == 0) {
        Export<PFN_Enable>(library, "Enable")();
        double start = Now();
        result = Export<PFN_Backup>(library, "Backup")(argv[3]);
        seconds = Now() - start;
    } else {
        double start = Now();
        result = Export<PFN_InitRestore>(library, "InitRestore")(argv[3]);
        initSeconds = Now() - start;
        if (result == 1) {
            Export<PFN_Enable>(library, "Enable")();
            result = Export<PFN_Restore>(library, "Restore")();
        }
        seconds = Now() - start;
    }
    Export<PFN_UninitBackup>(library, "UninitBackup")();
    Export<PFN_UninitRestore>(library, "UninitRestore")();
    Export<PFN_DestroyPlugIn>(library, "DestroyPlugIn")();

    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    char init[48] = "";
    if (argv[2][0] == 'r') snprintf(init, sizeof(init), " (InitRestore %.2f s)", initSeconds);
    printf("   (driver: %s export %.2f s%s, result %d, peak working set %.1f MiB)\n",
           argv[2][0] == 'b' ? "Backup" : "InitRestore+Restore", seconds, init, result,
           static_cast<double>(counters.PeakWorkingSetSize) / (1024.0 * 1024.0));
    return result == 1 ? 0 : 1;
}

#include "StandIns.h"

#include <windows.h>

#include "TestSupport.h"

namespace testsupport {

const char* const kOutlookExpressProgram = "C:\\Program Files\\Outlook Express\\msimn.exe";
const char* const kOutlookProgramFolders[3] = {
    "C:\\Program Files\\Microsoft Office\\OFFICE",
    "C:\\Program Files\\Microsoft Office\\OFFICE10",
    "C:\\Program Files\\Microsoft Office\\OFFICE11",
};
const char* const kOutlookProgram = "C:\\Program Files\\Microsoft Office\\OFFICE11\\OUTLOOK.EXE";

namespace {
std::string ParentOf(const std::string& path) { return path.substr(0, path.find_last_of('\\')); }

bool RemoveProgram(const std::string& path) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
    // Folders go only when empty: a real installation's files are never touched.
    RemoveDirectoryA(ParentOf(path).c_str());
    return !FileExistsAt(path);
}
}  // namespace

std::string StandInPath(const std::string& standIn) { return ExecutableFolder() + "\\standins\\" + standIn; }

bool InstallStandIn(const std::string& standIn, const std::string& programPath) {
    return MakeDirs(ParentOf(programPath)) &&
           CopyFileA(StandInPath(standIn).c_str(), programPath.c_str(), FALSE) != FALSE;
}

bool InstallStandIns() {
    return InstallStandIn(kStandInMsimn, kOutlookExpressProgram) && InstallStandIn(kStandInOutlook, kOutlookProgram);
}

bool RemoveStandIns() {
    bool removed = RemoveProgram(kOutlookExpressProgram);
    for (const char* folder : kOutlookProgramFolders)
        removed = RemoveProgram(std::string(folder) + "\\OUTLOOK.EXE") && removed;
    RemoveDirectoryA("C:\\Program Files\\Microsoft Office");
    return removed;
}

}  // namespace testsupport

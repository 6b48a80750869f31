// Stand-ins for the mail clients' program files. Wine has neither mail client;
// the plug-ins look for the program files at fixed paths only for their
// version resource, so small programs carrying such a resource make that
// lookup real. They are built into bin\standins beside the test programs.
#pragma once
#include <string>

namespace testsupport {

// Where the plug-ins look for the programs.
extern const char* const kOutlookExpressProgram;   // C:\Program Files\Outlook Express\msimn.exe
extern const char* const kOutlookProgramFolders[3];  // ...\Microsoft Office\OFFICE, OFFICE10, OFFICE11
extern const char* const kOutlookProgram;          // ...\Microsoft Office\OFFICE11\OUTLOOK.EXE

// Built stand-ins, by file name in bin\standins.
const char* const kStandInMsimn = "msimn.exe";                    // 6.0.2900.5512
const char* const kStandInMsimnOld = "msimn-5.50.4807.1700.exe";  // 5.50.4807.1700
const char* const kStandInOutlook = "OUTLOOK.EXE";                // 11.0.8217.0

std::string StandInPath(const std::string& standIn);
// Copies a built stand-in to a program path, creating its folders.
bool InstallStandIn(const std::string& standIn, const std::string& programPath);
// msimn.exe at the Outlook Express path and OUTLOOK.EXE under OFFICE11.
bool InstallStandIns();
// Removes every program file the stand-ins may occupy (the three Office
// folders included) and the folders left empty. True when none is left.
bool RemoveStandIns();

}  // namespace testsupport

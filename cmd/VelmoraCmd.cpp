// VelmoraCmd.exe: backups and restores without a person at the screen, through
// the same plug-in host and the same exports as the desktop program.
//   VelmoraCmd clients | backup <folder> | restore <archive> | list <archive> |
//              verify <archive>, with options; --help for each.
// Exit code 0 when everything asked for succeeded, 1 when something failed
// (the log names it), 2 for a usage error.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ArchiveVerifier.h"
#include "CmdConsole.h"
#include "EngineHost.h"
#include "EnginePlugIn.h"
#include "Handles.h"
#include "Log.h"
#include "ProgramStartup.h"
#include "ResourceModule.h"
#include "Unzipper.h"
#include "resource.h"

CLog g_Log;

namespace {
const int kSucceeded = 0, kFailed = 1, kUsageError = 2;

struct Options {
    std::wstring command;
    std::vector<std::string> positional;
    std::vector<std::string> clients, identities, items;
    bool yes = false;
    bool help = false;
};

bool ContainsNoCase(const std::vector<std::string>& names, const std::string& name) {
    return std::any_of(names.begin(), names.end(), [&](const std::string& n) { return lstrcmpiA(n.c_str(), name.c_str()) == 0; });
}

int UsageError(const std::wstring& message, const std::wstring& command) {
    WriteError(message + L"\n" + Text(IDS_CMD_TRY_HELP, {command.empty() ? L"" : command + L" "}) + L"\n");
    return kUsageError;
}

UINT HelpOf(const std::wstring& command) {
    if (command == L"clients") return IDS_CMD_HELP_CLIENTS;
    if (command == L"backup") return IDS_CMD_HELP_BACKUP;
    if (command == L"restore") return IDS_CMD_HELP_RESTORE;
    if (command == L"list") return IDS_CMD_HELP_LIST;
    if (command == L"verify") return IDS_CMD_HELP_VERIFY;
    return 0;
}

// Which options each command takes, and how many paths.
bool Accepts(const std::wstring& command, const std::wstring& option) {
    if (command == L"backup") return option == L"--client" || option == L"--identity" || option == L"--item";
    if (command == L"restore") return option == L"--identity" || option == L"--item" || option == L"--yes";
    return false;
}
size_t PathsOf(const std::wstring& command) { return command == L"clients" ? 0 : 1; }

// Parses the command line; kSucceeded, or the usage error already reported.
int Parse(int count, wchar_t** args, Options& options) {
    if (count < 2) return UsageError(Text(IDS_CMD_NO_COMMAND), L"");
    options.command = args[1];
    if (options.command == L"--help" || options.command == L"-?" || options.command == L"/?") {
        options.help = true;
        return kSucceeded;
    }
    if (!HelpOf(options.command)) return UsageError(Text(IDS_CMD_UNKNOWN_COMMAND, {options.command}), L"");
    for (int i = 2; i < count; ++i) {
        std::wstring arg = args[i];
        if (arg == L"--help") {
            options.help = true;
            return kSucceeded;
        }
        std::string value;
        if (arg.compare(0, 2, L"--") != 0) {
            if (!ToAnsi(arg, value)) return UsageError(Text(IDS_CMD_UNREPRESENTABLE, {arg}), options.command);
            options.positional.push_back(value);
            continue;
        }
        if (!Accepts(options.command, arg)) return UsageError(Text(IDS_CMD_BAD_OPTION, {options.command, arg}), options.command);
        if (arg == L"--yes") {
            options.yes = true;
            continue;
        }
        if (i + 1 >= count || std::wstring(args[i + 1]).compare(0, 2, L"--") == 0)
            return UsageError(Text(IDS_CMD_OPTION_NEEDS_NAME, {arg}), options.command);
        std::wstring name = args[++i];
        if (!ToAnsi(name, value)) return UsageError(Text(IDS_CMD_UNREPRESENTABLE, {name}), options.command);
        if (arg == L"--item" && lstrcmpiA(value.c_str(), "Messages") != 0 && lstrcmpiA(value.c_str(), "Accounts") != 0)
            return UsageError(Text(IDS_CMD_BAD_ITEM, {name}), options.command);
        (arg == L"--client" ? options.clients : arg == L"--identity" ? options.identities : options.items).push_back(value);
    }
    if (options.positional.size() != PathsOf(options.command))
        return UsageError(Text(PathsOf(options.command) ? IDS_CMD_NEEDS_PATH : IDS_CMD_NO_PATHS, {options.command}),
                          options.command);
    return kSucceeded;
}

// The plug-in's own log beside the program's: "<log folder>\<library base name>.log".
std::wstring LogOf(CEnginePlugIn* plugIn) {
    std::string log = g_Log.GetPath() ? g_Log.GetPath() : "";
    size_t slash = log.find_last_of('\\');
    if (!plugIn || slash == std::string::npos) return FromAnsi(log);
    std::string library = plugIn->GetPath();
    size_t base = library.find_last_of("\\/");
    library = library.substr(base == std::string::npos ? 0 : base + 1);
    size_t dot = library.rfind('.');
    return FromAnsi(log.substr(0, slash + 1) + library.substr(0, dot) + ".log");
}

// One identity list with its items, indented as the pages show them.
void PrintIdentities(IdentityList* identities) {
    if (!identities) return;
    for (CBackupIdentity* identity : *identities) {
        WriteOut(L"  " + FromAnsi(identity->GetName()) + L"\n");
        if (BackupItemList* items = identity->GetItems())
            for (CBackupItem* item : *items) WriteOut(L"    " + FromAnsi(item->GetName()) + L"\n");
    }
}

// Ticks exactly the identities (none named: all) and, within them, the items
// (none named: all) named; records every name that matched something.
// Returns how many identities are ticked.
size_t Select(IdentityList* identities, const Options& options, std::vector<std::string>& matched) {
    size_t ticked = 0;
    if (!identities) return 0;
    for (CBackupIdentity* identity : *identities) {
        const std::string name = identity->GetName();
        if (!options.identities.empty() && !ContainsNoCase(options.identities, name)) {
            identity->Disable();
            continue;
        }
        matched.push_back(name);
        identity->Enable();
        ++ticked;
        BackupItemList* items = identity->GetItems();
        if (options.items.empty() || !items) continue;
        for (CBackupItem* item : *items) {
            if (ContainsNoCase(options.items, item->GetName())) matched.push_back(item->GetName());
            else item->Disable();
        }
    }
    return ticked;
}

// Every identity and item name asked for matched something; the first one
// that did not is reported.
bool AllMatched(const Options& options, const std::vector<std::string>& matched) {
    for (const std::vector<std::string>* names : {&options.identities, &options.items})
        for (const std::string& name : *names)
            if (!ContainsNoCase(matched, name)) {
                WriteError(Text(IDS_CMD_NO_MATCH, {FromAnsi(name)}) + L"\n");
                LOG_ERROR("Nothing named %s was found.", name.c_str());
                return false;
            }
    return true;
}

int Clients(CEngineHost& host) {
    if (host.GetPlugInCount() == 0 || host.InitBackup() == 0) {
        WriteError(Text(IDS_CMD_NO_PLUGIN, {FromAnsi(host.GetHomeDirectory())}) + L"\n");
        return kFailed;
    }
    for (int i = 0; i < host.GetPlugInCount(); ++i) {
        CEnginePlugIn* plugIn = host.GetPlugIn(i);
        WriteOut(FromAnsi(plugIn->GetName()) + L"\n");
        IdentityList* identities = nullptr;
        plugIn->GetIdentities(&identities, kBackupSide);
        PrintIdentities(identities);
    }
    host.UninitBackup();
    return kSucceeded;
}

int Backup(CEngineHost& host, const Options& options) {
    const std::string& folder = options.positional[0];
    if (host.GetPlugInCount() == 0 || host.InitBackup() == 0) {
        WriteError(Text(IDS_CMD_NO_PLUGIN, {FromAnsi(host.GetHomeDirectory())}) + L"\n");
        return kFailed;
    }
    std::vector<std::string> matched;
    std::vector<CEnginePlugIn*> chosen;
    for (int i = 0; i < host.GetPlugInCount(); ++i) {
        CEnginePlugIn* plugIn = host.GetPlugIn(i);
        const std::string name = plugIn->GetName();
        plugIn->Disable();
        if (!options.clients.empty() && !ContainsNoCase(options.clients, name)) continue;
        matched.push_back(name);
        plugIn->Enable();
        IdentityList* identities = nullptr;
        plugIn->GetIdentities(&identities, kBackupSide);
        // A client none of whose identities was named is not backed up.
        if (Select(identities, options, matched) > 0 || options.identities.empty()) chosen.push_back(plugIn);
        else plugIn->Disable();
    }
    for (const std::string& client : options.clients)
        if (!ContainsNoCase(matched, client)) {
            WriteError(Text(IDS_CMD_NO_MATCH, {FromAnsi(client)}) + L"\n");
            host.UninitBackup();
            return kFailed;
        }
    if (!AllMatched(options, matched)) {
        host.UninitBackup();
        return kFailed;
    }
    // Each client gets its own archive and its own line; one failure does not
    // keep the others from being saved.
    int result = kSucceeded;
    for (CEnginePlugIn* plugIn : chosen) {
        const std::wstring name = FromAnsi(plugIn->GetName());
        const std::wstring archive = FromAnsi(folder) + L"\\" + name + L".vlb";
        if (plugIn->Backup(folder) == 1) {
            WriteOut(Text(IDS_CMD_BACKUP_WRITTEN, {name, archive}) + L"\n");
        } else {
            WriteError(Text(IDS_CMD_BACKUP_FAILED, {name, LogOf(plugIn)}) + L"\n");
            LOG_ERROR("The backup of %s into %s failed.", plugIn->GetName().c_str(), folder.c_str());
            result = kFailed;
        }
    }
    host.UninitBackup();
    return result;
}

// The read-back of a named archive; reports what it found.
bool CheckArchive(const std::string& archive) {
    ArchiveCheck check;
    const std::wstring path = FromAnsi(archive);
    if (VerifyArchive(archive.c_str(), nullptr, check)) {
        WriteOut(Text(IDS_CMD_VERIFY_PASSED, {path, std::to_wstring(check.entries), std::to_wstring(check.bytes),
                                              std::to_wstring(check.milliseconds)}) + L"\n");
        return true;
    }
    if (check.entry[0]) {
        WriteError(Text(IDS_CMD_VERIFY_FAILED_ENTRY, {path, FromAnsi(check.entry), FromAnsi(check.reason)}) + L"\n");
        LOG_ERROR("The backup file %s failed its check at the entry %s: %s.", archive.c_str(), check.entry, check.reason);
    } else {
        WriteError(Text(IDS_CMD_VERIFY_FAILED, {path, FromAnsi(check.reason)}) + L"\n");
        LOG_ERROR("The backup file %s failed its check: %s.", archive.c_str(), check.reason);
    }
    return false;
}

// The plug-in that reads this archive, after its InitRestore (the summary
// check, with the plug-in's own message box on a mismatch); null, reported,
// when there is none or InitRestore fails.
CEnginePlugIn* OpenForRestore(CEngineHost& host, const std::string& archive) {
    const std::string name = ClientNameOfArchive(archive);
    CEnginePlugIn* plugIn = host.FindPlugIn(name);
    if (!plugIn) {
        WriteError(Text(IDS_CMD_NO_CLIENT_FOR, {FromAnsi(archive)}) + L"\n");
        LOG_ERROR("No plug-in handles the archive %s.", archive.c_str());
        return nullptr;
    }
    if (host.InitRestore(name, archive) == 0) {
        WriteError(Text(IDS_CMD_INIT_FAILED, {FromAnsi(name), FromAnsi(archive), LogOf(plugIn)}) + L"\n");
        LOG_ERROR("Failed to initialize %s for restoration with %s", name.c_str(), archive.c_str());
        return nullptr;
    }
    return plugIn;
}

// The archive's system summary, "<client>\summary.txt", as text.
bool ReadSummary(const std::string& archive, const std::string& client, std::string& text) {
    char folder[MAX_PATH] = {}, file[MAX_PATH] = {};
    DWORD length = GetTempPathA(MAX_PATH, folder);
    if (length == 0 || length >= MAX_PATH || !GetTempFileNameA(folder, "vls", 0, file)) return false;
    CUnzipper unzipper;
    bool ok = unzipper.OpenArchive(archive.c_str()) && unzipper.GotoFile((client + "\\summary.txt").c_str(), false) &&
              unzipper.UnzipFileTo(file);
    unzipper.CloseArchive();
    if (ok) {
        CHandle in(CreateFileA(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        char buffer[4096];
        DWORD got = 0;
        text.clear();
        while (ok && in.IsValid() && ReadFile(in, buffer, sizeof(buffer), &got, nullptr) && got > 0)
            text.append(buffer, got);
        ok = in.IsValid();
    }
    DeleteFileA(file);
    return ok;
}

int List(CEngineHost& host, const std::string& archive) {
    std::string summary;
    if (!ReadSummary(archive, ClientNameOfArchive(archive), summary)) {
        WriteError(Text(IDS_CMD_NO_SUMMARY, {FromAnsi(archive)}) + L"\n");
        LOG_ERROR("The backup file %s has no system summary that can be read.", archive.c_str());
        return kFailed;
    }
    WriteOut(Text(IDS_CMD_SUMMARY_HEADING) + L"\n");
    std::wstring lines = FromAnsi(summary);
    lines.erase(std::remove(lines.begin(), lines.end(), L'\r'), lines.end());
    WriteOut(lines + (lines.empty() || lines.back() != L'\n' ? L"\n" : L""));
    CEnginePlugIn* plugIn = OpenForRestore(host, archive);
    if (!plugIn) return kFailed;
    WriteOut(Text(IDS_CMD_CONTENTS_HEADING) + L"\n" + FromAnsi(plugIn->GetName()) + L"\n");
    IdentityList* identities = nullptr;
    plugIn->GetIdentities(&identities, kRestoreSide);
    PrintIdentities(identities);
    host.UninitRestore();
    return kSucceeded;
}

int Verify(CEngineHost& host, const std::string& archive) {
    if (!CheckArchive(archive)) return kFailed;
    CEnginePlugIn* plugIn = OpenForRestore(host, archive);
    if (!plugIn) return kFailed;
    host.UninitRestore();
    WriteOut(Text(IDS_CMD_SUMMARY_FITS, {FromAnsi(archive)}) + L"\n");
    return kSucceeded;
}

bool Confirmed(const std::string& client) {
    WriteOut(Text(IDS_CMD_RESTORE_CONFIRM, {FromAnsi(client)}));
    std::wstring answer;
    if (!ReadLine(answer)) return false;
    const std::wstring yes = Text(IDS_CMD_YES_ANSWERS);
    size_t start = answer.find_first_not_of(L" \t"), end = answer.find_last_not_of(L" \t");
    if (start == std::wstring::npos) return false;
    answer = answer.substr(start, end - start + 1);
    // The answers are "|"-separated in the string table.
    for (size_t at = 0; at <= yes.size();) {
        size_t bar = yes.find(L'|', at);
        if (bar == std::wstring::npos) bar = yes.size();
        if (CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, answer.c_str(), -1, yes.substr(at, bar - at).c_str(), -1) ==
            CSTR_EQUAL)
            return true;
        at = bar + 1;
    }
    return false;
}

int Restore(CEngineHost& host, const Options& options) {
    const std::string& archive = options.positional[0];
    // A damaged archive is refused before anything of the system changes.
    if (!CheckArchive(archive)) return kFailed;
    CEnginePlugIn* plugIn = OpenForRestore(host, archive);
    if (!plugIn) return kFailed;
    plugIn->Enable();
    IdentityList* identities = nullptr;
    plugIn->GetIdentities(&identities, kRestoreSide);
    std::vector<std::string> matched;
    Select(identities, options, matched);
    int result = kFailed;
    if (!AllMatched(options, matched)) {
    } else if (!options.yes && !Confirmed(plugIn->GetName())) {
        WriteError(Text(IDS_CMD_RESTORE_DECLINED) + L"\n");
        LOG_ERROR("The restore from %s was not confirmed; nothing was restored.", archive.c_str());
    } else if (plugIn->Restore() == 1) {
        WriteOut(Text(IDS_CMD_RESTORE_DONE, {FromAnsi(plugIn->GetName()), FromAnsi(archive)}) + L"\n");
        result = kSucceeded;
    } else {
        WriteError(Text(IDS_CMD_RESTORE_FAILED, {FromAnsi(plugIn->GetName()), LogOf(plugIn)}) + L"\n");
        LOG_ERROR("The restore from %s failed.", archive.c_str());
    }
    host.UninitRestore();
    return result;
}

int Run(int count, wchar_t** args) {
    Options options;
    int parsed = Parse(count, args, options);
    if (parsed != kSucceeded) return parsed;
    if (options.help) {
        WriteOut(Text(options.command == L"--help" || options.command == L"-?" || options.command == L"/?"
                          ? IDS_CMD_HELP
                          : HelpOf(options.command)) + L"\n");
        return kSucceeded;
    }
    if (options.command == L"backup" || options.command == L"restore") {
        // Registry hives are saved and loaded with these.
        if (!EnableBackupPrivileges()) {
            WriteError(Text(IDS_PRIVILEGES_MISSING) + L"\n");
            return kFailed;
        }
        // As the desktop program does: the user is told, and the run goes on.
        // A file the mail client holds open fails it, named in the log.
        if (IsMailClientRunning()) {
            WriteError(Text(IDS_CLOSE_MAIL_CLIENT) + L"\n");
            LOG_ERROR("A mail client is running while its data is %s.",
                      options.command == L"backup" ? "backed up" : "restored");
        }
    }
    CEngineHost host(FindProgramHome());
    if (options.command == L"clients") return Clients(host);
    if (options.command == L"backup") return Backup(host, options);
    if (options.command == L"restore") return Restore(host, options);
    if (options.command == L"list") return List(host, options.positional[0]);
    return Verify(host, options.positional[0]);
}
}  // namespace

int main() {
    ConfigureModuleLog(g_Log, "\\Velmora.log", false);
    LoadProgramSatellite();
    // The plug-ins' progress dialogs.
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!args) return kFailed;
    int result = Run(count, args);
    LocalFree(args);
    return result;
}

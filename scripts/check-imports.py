#!/usr/bin/env python3
"""Checks that every binary of an installed copy loads on Windows XP SP3.

usage: check-imports.py HOME_DIR [OBJDUMP]

Every .exe and .dll under HOME_DIR is read with objdump -p. A binary passes
when every library it imports is a system library of a clean Windows XP SP3
or is shipped in HOME_DIR itself (where a plug-in under EnginePlugins finds
it through the program's folder), when it imports no function that Windows
added after XP, and when its PE header asks for no newer Windows than 5.1.
There is no XP here to ask for its export tables, so the newer functions are
a list, taken from the "Minimum supported client" of each function's
documentation, plus patterns for whole families. Exit code 0 when all pass,
1 with one line per fault otherwise, 2 on a usage or tool error.
"""
import os
import re
import subprocess
import sys

# System libraries of a clean Windows XP SP3 (system32), lower case.
XP_SYSTEM_DLLS = {
    "advapi32.dll", "comctl32.dll", "comdlg32.dll", "crypt32.dll", "dbghelp.dll",
    "gdi32.dll", "imagehlp.dll", "imm32.dll", "iphlpapi.dll", "kernel32.dll",
    "mpr.dll", "msimg32.dll", "msvcrt.dll", "netapi32.dll", "ntdll.dll",
    "ole32.dll", "oleacc.dll", "oleaut32.dll", "psapi.dll", "rpcrt4.dll",
    "secur32.dll", "setupapi.dll", "shell32.dll", "shfolder.dll", "shlwapi.dll",
    "urlmon.dll", "user32.dll", "userenv.dll", "usp10.dll", "uxtheme.dll",
    "version.dll", "wininet.dll", "winmm.dll", "winspool.drv", "wintrust.dll",
    "ws2_32.dll", "wsock32.dll", "wtsapi32.dll",
}

# Functions whose documentation names Windows Vista or later (or only the
# 64-bit XP) as the minimum supported client.
POST_XP_FUNCTIONS = {
    # kernel32: time, synchronisation, threads
    "GetTickCount64", "GetSystemTimePreciseAsFileTime", "QueryThreadCycleTime",
    "QueryProcessCycleTime", "QueryIdleProcessorCycleTime",
    "InitializeCriticalSectionEx", "CreateEventExA", "CreateEventExW",
    "CreateMutexExA", "CreateMutexExW", "CreateSemaphoreExA", "CreateSemaphoreExW",
    "CreateWaitableTimerExA", "CreateWaitableTimerExW", "FlushProcessWriteBuffers",
    "GetCurrentProcessorNumber", "GetCurrentProcessorNumberEx", "GetThreadId",
    "GetProcessIdOfThread", "CreateRemoteThreadEx", "SetThreadStackGuarantee",
    "AddVectoredContinueHandler", "RemoveVectoredContinueHandler",
    "InitializeProcThreadAttributeList", "UpdateProcThreadAttribute",
    "DeleteProcThreadAttributeList", "GetQueuedCompletionStatusEx",
    "SetFileCompletionNotificationModes", "WaitOnAddress", "WakeByAddressSingle",
    "WakeByAddressAll", "RaiseFailFastException", "GetCurrentThreadStackLimits",
    "CreateThreadpool", "CloseThreadpool", "CreateThreadpoolWork",
    "SubmitThreadpoolWork", "CloseThreadpoolWork", "WaitForThreadpoolWorkCallbacks",
    "CreateThreadpoolTimer", "SetThreadpoolTimer", "CloseThreadpoolTimer",
    "CreateThreadpoolWait", "SetThreadpoolWait", "CloseThreadpoolWait",
    "TrySubmitThreadpoolCallback", "GetErrorMode", "GetThreadErrorMode",
    "SetThreadErrorMode", "InterlockedCompareExchange64",
    "GetLogicalProcessorInformationEx", "GetPhysicallyInstalledSystemMemory",
    "GetNumaNodeProcessorMaskEx", "VirtualAllocExNuma", "GetProductInfo",
    "RegisterApplicationRestart", "RegisterApplicationRecoveryCallback",
    "WerRegisterRuntimeExceptionModule", "QueryFullProcessImageNameA",
    "QueryFullProcessImageNameW", "Wow64DisableWow64FsRedirection",
    "Wow64RevertWow64FsRedirection", "Wow64EnableWow64FsRedirection",
    "Wow64GetThreadContext", "Wow64SetThreadContext", "EnumSystemFirmwareTables",
    "GetSystemFirmwareTable", "AddDllDirectory", "RemoveDllDirectory",
    "SetDefaultDllDirectories", "GetNamedPipeClientProcessId",
    # kernel32: files
    "GetFileInformationByHandleEx", "SetFileInformationByHandle", "CancelIoEx",
    "CancelSynchronousIo", "GetFinalPathNameByHandleA", "GetFinalPathNameByHandleW",
    "CreateFileTransactedA", "CreateFileTransactedW", "CopyFileTransactedA",
    "CopyFileTransactedW", "DeleteFileTransactedA", "DeleteFileTransactedW",
    "MoveFileTransactedA", "MoveFileTransactedW", "CreateDirectoryTransactedA",
    "CreateDirectoryTransactedW", "RemoveDirectoryTransactedA",
    "RemoveDirectoryTransactedW", "GetFileAttributesTransactedA",
    "GetFileAttributesTransactedW", "FindFirstFileTransactedA",
    "FindFirstFileTransactedW", "FindFirstFileNameW", "FindNextFileNameW",
    "FindFirstStreamW", "FindNextStreamW", "GetVolumeInformationByHandleW",
    "ReOpenFile", "CopyFile2", "CreateFile2", "GetFileMUIInfo", "GetFileMUIPath",
    # kernel32: locale by name and other national-language functions
    "GetLocaleInfoEx", "SetLocaleInfoEx", "GetUserDefaultLocaleName",
    "GetSystemDefaultLocaleName", "LCMapStringEx", "CompareStringEx",
    "CompareStringOrdinal", "GetDateFormatEx", "GetTimeFormatEx",
    "GetNumberFormatEx", "GetCurrencyFormatEx", "GetDurationFormat",
    "GetDurationFormatEx", "LocaleNameToLCID", "LCIDToLocaleName",
    "EnumSystemLocalesEx", "IsValidLocaleName", "ResolveLocaleName",
    "GetCalendarInfoEx", "EnumCalendarInfoExEx", "EnumDateFormatsExEx",
    "EnumTimeFormatsEx", "GetNLSVersionEx", "IsValidNLSVersion",
    "FindNLSString", "FindNLSStringEx", "FindStringOrdinal", "NormalizeString",
    "IsNormalizedString", "IdnToAscii", "IdnToUnicode", "IdnToNameprepUnicode",
    "GetStringScripts", "VerifyScripts", "GetUserPreferredUILanguages",
    "GetSystemPreferredUILanguages", "GetThreadPreferredUILanguages",
    "SetThreadPreferredUILanguages", "GetProcessPreferredUILanguages",
    "SetProcessPreferredUILanguages", "GetUILanguageInfo",
    "GetDynamicTimeZoneInformation", "SetDynamicTimeZoneInformation",
    "GetTimeZoneInformationForYear",
    # advapi32
    "RegDeleteTreeA", "RegDeleteTreeW", "RegCopyTreeA", "RegCopyTreeW",
    "RegGetValueA", "RegGetValueW", "RegSetKeyValueA", "RegSetKeyValueW",
    "RegDeleteKeyValueA", "RegDeleteKeyValueW", "RegLoadMUIStringA",
    "RegLoadMUIStringW", "RegDeleteKeyExA", "RegDeleteKeyExW",
    "RegDisableReflectionKey", "RegEnableReflectionKey", "RegQueryReflectionKey",
    "RegOpenKeyTransactedA", "RegOpenKeyTransactedW", "RegCreateKeyTransactedA",
    "RegCreateKeyTransactedW", "RegDeleteKeyTransactedA", "RegDeleteKeyTransactedW",
    "RegDisablePredefinedCacheEx", "RegLoadAppKeyA", "RegLoadAppKeyW",
    "EventRegister", "EventUnregister", "EventWrite", "EventWriteString",
    "EventEnabled", "AddMandatoryAce", "CreateProcessWithTokenW",
    "NotifyServiceStatusChangeA", "NotifyServiceStatusChangeW",
    "ControlServiceExA", "ControlServiceExW",
    # user32
    "SetProcessDPIAware", "IsProcessDPIAware", "ChangeWindowMessageFilter",
    "ChangeWindowMessageFilterEx", "AddClipboardFormatListener",
    "RemoveClipboardFormatListener", "GetUpdatedClipboardFormats",
    "ShutdownBlockReasonCreate", "ShutdownBlockReasonDestroy",
    "ShutdownBlockReasonQuery", "RegisterPowerSettingNotification",
    "UnregisterPowerSettingNotification", "LogicalToPhysicalPoint",
    "PhysicalToLogicalPoint", "WindowFromPhysicalPoint", "UpdateLayeredWindowIndirect",
    "GetWindowDisplayAffinity", "SetWindowDisplayAffinity", "RegisterTouchWindow",
    "UnregisterTouchWindow", "IsTouchWindow", "GetTouchInputInfo",
    "CloseTouchInputHandle", "GetGestureInfo", "SetGestureConfig",
    "CloseGestureInfoHandle", "CalculatePopupWindowPosition",
    "GetDisplayConfigBufferSizes", "QueryDisplayConfig", "SetDisplayConfig",
    "DisplayConfigGetDeviceInfo", "GetDpiForWindow", "GetDpiForSystem",
    "SetThreadDpiAwarenessContext", "SetProcessDpiAwarenessContext",
    "EnableNonClientDpiScaling", "AdjustWindowRectExForDpi",
    "GetSystemMetricsForDpi", "SystemParametersInfoForDpi",
    # shell32
    "SHGetKnownFolderPath", "SHGetKnownFolderIDList", "SHSetKnownFolderPath",
    "SHGetKnownFolderItem", "SHGetFolderPathEx", "SHCreateItemFromParsingName",
    "SHCreateItemFromIDList", "SHCreateItemWithParent", "SHCreateItemInKnownFolder",
    "SHCreateShellItemArray", "SHCreateShellItemArrayFromIDLists",
    "SHCreateShellItemArrayFromShellItem", "SHGetIDListFromObject",
    "SHGetNameFromIDList", "SHGetPathFromIDListEx", "SHGetPropertyStoreFromParsingName",
    "SHGetStockIconInfo", "SHCreateDefaultContextMenu", "SHOpenWithDialog",
    "SHEvaluateSystemCommandTemplate", "SHGetDriveMedia", "SHQueryUserNotificationState",
    "Shell_NotifyIconGetRect", "SHBindToFolderIDListParent", "SHGetLocalizedName",
    "SHRemoveLocalizedName", "SHAssocEnumHandlers", "SHCreateAssociationRegistration",
    "SHCreateDataObject", "SHGetTemporaryPropertyForItem",
    "SetCurrentProcessExplicitAppUserModelID", "GetCurrentProcessExplicitAppUserModelID",
    # comctl32
    "LoadIconMetric", "LoadIconWithScaleDown", "ImageList_CoCreateInstance",
    # ole32
    "CoGetApartmentType", "CoDisconnectContext", "CoIncrementMTAUsage",
    "CoDecrementMTAUsage",
    # msvcrt: added to the system's msvcrt.dll with Vista
    "_fseeki64", "_ftelli64", "_set_invalid_parameter_handler",
    "_get_invalid_parameter_handler", "_invalid_parameter_noinfo",
    "_get_output_format", "_get_errno", "_set_errno",
}

# Whole families, as (library or None for any, pattern).
POST_XP_PATTERNS = [
    (None, re.compile(r"SRWLock")),                 # slim reader/writer locks
    (None, re.compile(r"ConditionVariable")),       # condition variables
    (None, re.compile(r"^InitOnce")),               # one-time initialisation
    ("kernel32.dll", re.compile(r"^Fls(Alloc|Free|GetValue|SetValue)$")),
    ("kernel32.dll", re.compile(r"^K32")),          # psapi functions in kernel32 (7)
    (None, re.compile(r"^TaskDialog")),             # task dialogs
    (None, re.compile(r"^CreateSymbolicLink")),     # symbolic links
    ("msvcrt.dll", re.compile(r"_s$")),             # the "secure" C library functions
]

# Newest Windows a binary may ask for in its PE header.
XP_VERSION = (5, 1)
XP_X64_VERSION = (5, 2)


def post_xp(dll, function):
    if function in POST_XP_FUNCTIONS:
        return True
    return any((lib is None or lib == dll) and pattern.search(function)
               for lib, pattern in POST_XP_PATTERNS)


def parse(objdump_text):
    """Returns ({dll: [functions]}, {header field: value})."""
    imports = {}
    header = {}
    current = None
    for line in objdump_text.splitlines():
        if re.match(r"^Magic\s+020b", line):
            header["PE32+"] = True
        field = re.match(r"^(Major|Minor)(OSystem|Subsystem)Version\s+(\d+)", line)
        if field:
            header[field.group(1) + field.group(2)] = int(field.group(3))
            continue
        name = re.match(r"^\s*DLL Name:\s*(\S+)", line)
        if name:
            current = imports.setdefault(name.group(1).lower(), [])
            continue
        if current is None:
            continue
        if not line.strip():
            current = None
            continue
        entry = re.match(r"^\s+[0-9a-fA-F]+\s+(\d+)\s+(\S+)\s*$", line)
        if entry:
            current.append(entry.group(2))
        # Ordinal imports and the table's column titles carry no name.
    return imports, header


def check(home, objdump):
    shipped = set()
    binaries = []
    for folder, _, files in os.walk(home):
        for f in files:
            if f.lower().endswith((".dll", ".exe")):
                binaries.append(os.path.join(folder, f))
                if folder == home:
                    shipped.add(f.lower())
    faults = []
    for path in sorted(binaries):
        rel = os.path.relpath(path, home)
        result = subprocess.run([objdump, "-p", path], capture_output=True, text=True)
        if result.returncode != 0:
            faults.append(f"{rel}: objdump failed: {result.stderr.strip()}")
            continue
        imports, header = parse(result.stdout)
        for kind in ("OSystem", "Subsystem"):
            version = (header.get("Major" + kind, 0), header.get("Minor" + kind, 0))
            # The 64-bit build (a test build) starts at XP x64, 5.2.
            if version > (XP_X64_VERSION if header.get("PE32+") else XP_VERSION):
                faults.append(f"{rel}: PE header asks for Windows {version[0]}.{version[1]}"
                              f" ({kind} version)")
        for dll, functions in sorted(imports.items()):
            if dll not in XP_SYSTEM_DLLS and dll not in shipped:
                faults.append(f"{rel}: imports {dll}, neither an XP system library nor shipped")
            for function in functions:
                if post_xp(dll, function):
                    faults.append(f"{rel}: imports {dll}!{function}, newer than Windows XP")
    return len(binaries), faults


def main(argv):
    if len(argv) not in (2, 3) or not os.path.isdir(argv[1]):
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    home = os.path.abspath(argv[1])
    objdump = argv[2] if len(argv) == 3 else "i686-w64-mingw32-objdump"
    try:
        count, faults = check(home, objdump)
    except OSError as error:
        print(f"check-imports: {error}", file=sys.stderr)
        return 2
    if count == 0:
        print(f"check-imports: no binaries under {home}", file=sys.stderr)
        return 2
    for fault in faults:
        print(fault)
    print(f"check-imports: {count} binaries, {len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

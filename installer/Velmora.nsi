; Velmora setup: one file that installs the home directory, registers it and
; removes exactly that again. Built by installer/build.sh, which generates the
; file lists (VELMORA_GEN_DIR) from the built home directory.
; The 64-bit build (for machines that run no 32-bit program) gets a 64-bit setup.
!ifdef VELMORA_AMD64
  Target amd64-unicode
!else
  Unicode true
!endif
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!ifndef VELMORA_GEN_DIR
  !error "build with installer/build.sh"
!endif

!define PRODUCT "Velmora"
!define VERSION "1.5"
!define VERSION_QUAD "1.5.0.0"
!define PUBLISHER "Orridge"
!define PRODUCT_KEY "Software\Orridge\Velmora"
!define HOME_VALUE "Velmora Home"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Velmora"
!define UNINSTALLER "Uninstall.exe"
!define SHORTCUT "$SMPROGRAMS\Velmora.lnk"

!include "MUI2.nsh"
!include "LogicLib.nsh"

Name "${PRODUCT}"
OutFile "${VELMORA_OUTFILE}"
!ifdef VELMORA_AMD64
  InstallDir "$PROGRAMFILES64\Velmora"
!else
  InstallDir "$PROGRAMFILES\Velmora"
!endif
; An upgrade goes where the current installation lives.
InstallDirRegKey HKLM "${PRODUCT_KEY}" "${HOME_VALUE}"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The first language is the fallback; otherwise the user's UI language picks.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Korean"

LangString PreviousUninstallFailed ${LANG_ENGLISH} \
  "The installed copy of Velmora in $0 could not be removed (code $1). Setup stops."
LangString PreviousUninstallFailed ${LANG_KOREAN} \
  "$0 에 설치된 Velmora를 제거하지 못했습니다 (코드 $1). 설치를 중단합니다."

VIProductVersion "${VERSION_QUAD}"
VIFileVersion "${VERSION_QUAD}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "Velmora Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION_QUAD}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION_QUAD}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "Copyright (C) ${PUBLISHER}"

; An installation already registered (this version or an older one) is removed
; with its own uninstaller first, so files that a new version no longer ships do
; not linger. The uninstaller runs from a copy in the plug-ins folder with _?=,
; which makes it run in place of the original and lets ExecWait wait for it.
; It never touches per-user settings, backups or logs.
Function RemovePreviousInstallation
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == ""
  ${OrIfNot} ${FileExists} "$0\${UNINSTALLER}"
    Return
  ${EndIf}
  DetailPrint "Removing the installed copy in $0"
  InitPluginsDir
  CopyFiles /SILENT "$0\${UNINSTALLER}" "$PLUGINSDIR"
  ClearErrors
  ExecWait '"$PLUGINSDIR\${UNINSTALLER}" /S _?=$0' $1
  Delete "$PLUGINSDIR\${UNINSTALLER}"
  ${If} ${Errors}
  ${OrIf} $1 != 0
    MessageBox MB_OK|MB_ICONSTOP "$(PreviousUninstallFailed)" /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
FunctionEnd

Section "Velmora" SecMain
  SectionIn RO
  SetShellVarContext all
  Call RemovePreviousInstallation

  !include "${VELMORA_GEN_DIR}\install.nsh"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  CreateShortCut "${SHORTCUT}" "$INSTDIR\Velmora.exe" "" "$INSTDIR\Velmora.exe" 0

  ; The program and the plug-ins find their home directory here.
  WriteRegStr HKLM "${PRODUCT_KEY}" "${HOME_VALUE}" "$INSTDIR"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Velmora.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${VELMORA_ESTIMATED_SIZE}
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "VersionMajor" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "VersionMinor" 5
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes the files this version installed, one by one, and the folders only
; when they are empty: backups or anything else the user keeps there survive.
; The per-user settings (HKCU) and the logs under Application Data are the
; user's and stay.
Section "Uninstall"
  SetShellVarContext all
  !include "${VELMORA_GEN_DIR}\uninstall.nsh"
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"

  ; The machine-wide registrations go only when they describe this copy.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == $INSTDIR
    Delete "${SHORTCUT}"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ${EndIf}
  ReadRegStr $0 HKLM "${PRODUCT_KEY}" "${HOME_VALUE}"
  ${If} $0 == $INSTDIR
    DeleteRegValue HKLM "${PRODUCT_KEY}" "${HOME_VALUE}"
    DeleteRegKey /ifempty HKLM "${PRODUCT_KEY}"
    DeleteRegKey /ifempty HKLM "Software\Orridge"
  ${EndIf}
SectionEnd

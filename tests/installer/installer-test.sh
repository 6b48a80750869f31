#!/bin/bash
# Drives the real setup program under Wine, as a user or an administrator
# would: silent install (default folder and /D=), the installed host loading
# the plug-ins, silent uninstall, and an upgrade over an older installation.
# It runs in a Wine prefix of its own, created here and deleted afterwards, so
# the machine-wide keys and folders it changes touch no other test or the demo.
#   tests/installer/installer-test.sh <build dir>
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:?usage: $0 <build dir>}" && pwd)"

scratch="$(mktemp -d "$build/installer-test.XXXXXX")"
export WINEPREFIX="$scratch/prefix"
cleanup() {
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT

run() { "$root/scripts/wine-run.sh" "$@"; }
# /D= and _?= must come last and unquoted, even with spaces, which Wine's
# own argument quoting would break: such command lines go through a batch file
# (cmd waits for the program and passes on its exit code).
run_cmdline() {
  printf '@%s\r\n@exit /b %%errorlevel%%\r\n' "$1" > "$drive_c/windows/temp/velmora-test.bat"
  run cmd /c 'C:\windows\temp\velmora-test.bat'
}
failures=0
key_absent() { ! run reg query "$1" >/dev/null 2>&1; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }
check() { local what="$1"; shift; if "$@"; then pass "$what"; else fail "$what"; fi; }

drive_c="$WINEPREFIX/drive_c"
unix_path() { local p="${1#[Cc]:\\}"; printf '%s/%s' "$drive_c" "${p//\\//}"; }

# One registry value as text ("" when missing).
reg_value() {
  run reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' \
    | sed -n "s/^ *$2 *REG_[A-Z_]* *//p" | head -1
}
# Files and registry a user could see changing, with Wine's own scratch
# (temporary files, its per-session settings under HKCU\Software\Wine, the
# network adapters a 64-bit prefix lists when first asked) left out.
snapshot() {
  (cd "$drive_c" && find . \( -path './windows' -o -ipath './users/*/Temp' \) -prune \
     -o -print | LC_ALL=C sort)
  for key in 'HKEY_LOCAL_MACHINE\Software' 'HKEY_CURRENT_USER\Software'; do
    run regedit /E 'C:\windows\temp\snapshot.reg' "$key" >/dev/null 2>&1
    iconv -f UTF-16LE -t UTF-8 "$drive_c/windows/temp/snapshot.reg" | tr -d '\r' \
      | awk '/^\[/ { key = $0; print; next } NF { print key "|" $0 }'
  done | grep -vF -e '[HKEY_CURRENT_USER\Software\Wine' -e '\CurrentVersion\NetworkCards' | LC_ALL=C sort
}

echo "== Wine prefix of its own: $WINEPREFIX"
mkdir -p "$WINEPREFIX"
WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=" wineboot -i >/dev/null 2>&1
run reg add 'HKCU\Software\Wine' /v Version /d winxp /f >/dev/null 2>&1
# Wine would mirror the Start-menu shortcut into the Linux desktop's menus.
run reg add 'HKCU\Software\Wine\DllOverrides' /v winemenubuilder.exe /d '' /f >/dev/null 2>&1
# Outlook's plug-in is offered only where Office has left its keys.
run reg add 'HKCU\Software\Microsoft\Office\11.0' /f >/dev/null 2>&1
wineserver -p

echo "== Building the setup program from $build/home"
setup="$scratch/VelmoraSetup-1.5.exe"
"$root/installer/build.sh" "$build/home" "$setup" || { echo "FAIL: setup build"; exit 1; }
expected_files="$(cd "$build/home" && find . -type f -printf '%P\n' | LC_ALL=C sort)"

uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Velmora'
product_key='HKLM\Software\Orridge\Velmora'
user_key='HKCU\Software\Orridge\Velmora'

# The files installed in a folder are exactly the home directory's, byte for
# byte, plus the uninstaller.
check_installed_copy() {
  local dir="$1" label="$2" f ok=1
  local got
  got="$(cd "$dir" 2>/dev/null && find . -type f ! -name Uninstall.exe ! -name '*.vlb' -printf '%P\n' | LC_ALL=C sort)"
  [ "$got" == "$expected_files" ] || { ok=0; diff <(echo "$expected_files") <(echo "$got") | sed 's/^/   /'; }
  while read -r f; do
    cmp -s "$build/home/$f" "$dir/$f" || { ok=0; echo "   differs: $f"; }
  done <<< "$expected_files"
  [ -f "$dir/Uninstall.exe" ] || { ok=0; echo "   no Uninstall.exe"; }
  check "$label: the installed files are the home directory's, plus Uninstall.exe" test $ok = 1
}

check_registration() {
  local win="$1" label="$2"
  check "$label: \"Velmora Home\" names the folder" test "$(reg_value "$product_key" "Velmora Home")" == "$win"
  check "$label: uninstall entry DisplayName" test "$(reg_value "$uninstall_key" DisplayName)" == "Velmora"
  check "$label: uninstall entry DisplayVersion" test "$(reg_value "$uninstall_key" DisplayVersion)" == "1.5"
  check "$label: uninstall entry Publisher" test "$(reg_value "$uninstall_key" Publisher)" == "Orridge"
  check "$label: uninstall entry InstallLocation" test "$(reg_value "$uninstall_key" InstallLocation)" == "$win"
  check "$label: uninstall entry UninstallString" \
    test "$(reg_value "$uninstall_key" UninstallString)" == "\"$win\\Uninstall.exe\""
  local kb size
  kb=$(( $(reg_value "$uninstall_key" EstimatedSize) ))
  size=$(( ($(find "$build/home" -type f -printf '%s+') 0) / 1024 ))
  check "$label: EstimatedSize ($kb KB) covers the home directory ($size KB)" \
    test "$kb" -ge "$size" -a "$kb" -le $((size + 64))
}

check_host_loads_plugins() {
  local win="$1" label="$2" out
  out="$(run "$build/bin/PlugInCheck.exe" 2>&1 | tr -d '\r')"
  local rc=$?
  echo "$out" | sed 's/^/   /'
  check "$label: PlugInCheck.exe succeeds" test $rc = 0
  check "$label: Wrenfold loaded from the installed folder" \
    grep -qF "from $win\\EnginePlugins\\Wrenfold.dll" <<< "$out"
  check "$label: Wrenmark loaded from the installed folder" \
    grep -qF "from $win\\EnginePlugins\\Wrenmark.dll" <<< "$out"
}

# Runs the uninstaller the way the setup itself does: from a copy elsewhere,
# with _?= naming the installation, so that it runs in place and the call
# returns when it has finished (and it can delete the Uninstall.exe it names).
uninstall_and_wait() {
  local win="$1" copy="$scratch/uninstaller"
  mkdir -p "$copy" && cp "$(unix_path "$win")/Uninstall.exe" "$copy/" || return 1
  run_cmdline "\"$(run winepath -w "$copy/Uninstall.exe" 2>/dev/null | tr -d '\r')\" /S _?=$win"
  local rc=$?
  rm -rf "$copy"
  return $rc
}

# A user's data that must outlive an uninstall: a backup archive in the
# program folder, the log folder under Application Data, per-user settings.
add_user_data() {
  local dir="$1"
  echo "backup" > "$dir/Outlook Express.vlb"
  local appdata
  appdata="$(run cmd /c echo %APPDATA% 2>/dev/null | tr -d '\r')"
  mkdir -p "$(unix_path "$appdata")/Velmora" && echo "log" > "$(unix_path "$appdata")/Velmora/Velmora.log"
  run reg add "$user_key" /v "UI Language" /d KOR /f >/dev/null
  run reg add "$user_key" /v "LogLevel" /t REG_DWORD /d 3 /f >/dev/null
}

echo "== Silent install into the default folder"
before="$(snapshot)"
run "$setup" /S; rc=$?
check "setup /S exits with 0" test $rc = 0
default_win='C:\Program Files\Velmora'
default_dir="$(unix_path "$default_win")"
check_installed_copy "$default_dir" "default folder"
check_registration "$default_win" "default folder"
installed="$(snapshot)"
added="$(comm -13 <(echo "$before") <(echo "$installed"))"
check "a Start-menu shortcut to Velmora is added" grep -qiE '^\./.*Start Menu/Programs/Velmora\.lnk$' <<< "$added"
check_host_loads_plugins "$default_win" "default folder"

echo "== Silent uninstall keeps the user's backups, logs and settings"
add_user_data "$default_dir"
with_user_data="$(snapshot)"
uninstall_and_wait "$default_win"; rc=$?
check "uninstaller /S exits with 0" test $rc = 0
after="$(snapshot)"
# Exactly the state before the install, plus what the user added meanwhile
# (and the program folder, kept for the backup archive in it).
user_added="$(comm -13 <(echo "$installed") <(echo "$with_user_data"))"
expected="$(printf '%s\n%s\n%s\n' "$before" "$user_added" "./Program Files/Velmora" | LC_ALL=C sort)"
diff <(echo "$expected") <(echo "$after") | grep '^[<>]' | sed 's/^/   /' > "$scratch/difference"
cat "$scratch/difference"
check "uninstall removes exactly what the install added" test ! -s "$scratch/difference"
check "the backup archive survives" test -f "$default_dir/Outlook Express.vlb"
check "the log survives" grep -q 'Velmora/Velmora.log$' <<< "$after"
check "the per-user settings survive" test "$(reg_value "$user_key" "UI Language")" == "KOR"
check "\"Velmora Home\" is gone" test -z "$(reg_value "$product_key" "Velmora Home")"
check "the uninstall entry is gone" key_absent "$uninstall_key"
check "the program folder stays only for the backup it holds" \
  test "$(ls -A "$default_dir")" == "Outlook Express.vlb"

echo "== Upgrade in place over an older installation in a chosen folder (/D=)"
other_win='C:\Velmora Test Folder\Velmora'
other_dir="$(unix_path "$other_win")"
# An older version: fewer files, one that the new version no longer ships.
old_home="$scratch/old-home"
mkdir -p "$old_home/EnginePlugins"
cp "$build/home/Velmora.exe" "$old_home/"
echo "old plug-in" > "$old_home/EnginePlugins/Wrenfold.dll"
echo "obsolete" > "$old_home/VLObsolete.dll"
"$root/installer/build.sh" "$old_home" "$scratch/OldSetup.exe" >/dev/null || fail "old setup build"
run_cmdline "\"$(run winepath -w "$scratch/OldSetup.exe" 2>/dev/null | tr -d '\r')\" /S /D=$other_win"; rc=$?
check "older setup /S /D= exits with 0" test $rc = 0
check "the older version is in the chosen folder" test -f "$other_dir/VLObsolete.dll"
check "\"Velmora Home\" names the chosen folder" \
  test "$(reg_value "$product_key" "Velmora Home")" == "$other_win"
run reg add "$user_key" /v "Restore Warning Off" /t REG_DWORD /d 1 /f >/dev/null
echo "backup" > "$other_dir/Outlook.vlb"
user_settings="$(run reg query "$user_key" 2>/dev/null | tr -d '\r')"
# No /D=: the setup finds the installation through "Velmora Home".
run "$setup" /S; rc=$?
check "setup /S over the older version exits with 0" test $rc = 0
check_installed_copy "$other_dir" "upgraded folder"
check "the file the new version no longer ships is gone" test ! -e "$other_dir/VLObsolete.dll"
check "the backup archive in the folder survives the upgrade" test -f "$other_dir/Outlook.vlb"
check "the default folder was not used" test ! -e "$default_dir/Velmora.exe"
check "per-user settings are unchanged by the upgrade" \
  test "$(run reg query "$user_key" 2>/dev/null | tr -d '\r')" == "$user_settings"
check_registration "$other_win" "upgraded folder"
check_host_loads_plugins "$other_win" "upgraded folder"

echo "== The uninstall string, as Windows runs it (the uninstaller returns at once)"
uninstall_string="$(reg_value "$uninstall_key" UninstallString)"
run "$(tr -d '"' <<< "$uninstall_string")" /S; rc=$?
check "the uninstall string starts the uninstaller" test $rc = 0
for _ in $(seq 120); do
  [ ! -e "$other_dir/Uninstall.exe" ] && ! run reg query "$uninstall_key" >/dev/null 2>&1 \
    && [ -z "$(reg_value "$product_key" "Velmora Home")" ] && break
  sleep 0.5
done
check "Uninstall.exe removed itself" test ! -e "$other_dir/Uninstall.exe"
check "the uninstall entry is gone" key_absent "$uninstall_key"
check "only the user's backup is left in the folder" test "$(ls -A "$other_dir")" == "Outlook.vlb"
check "per-user settings survive the uninstall" \
  test "$(run reg query "$user_key" 2>/dev/null | tr -d '\r')" == "$user_settings"

echo "== $failures failure(s)"
[ $failures -eq 0 ]

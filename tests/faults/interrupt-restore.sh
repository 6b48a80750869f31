#!/bin/bash
# Restores of the synthetic Outlook Express installation that are interrupted,
# each case on a Wine prefix of its own:
#   killed      a restore killed while the identity's hive is mounted at
#               "TEMP_HIVE", then one killed while a large store file is being
#               extracted; after each, a second restore succeeds
#   concurrent  a second restore started while the first holds the mount
# Afterwards the installation equals the backed-up one, the archive is byte
# for byte as it was, and no mount, safety copy, temporary extraction file or
# hive file is left.
#   tests/faults/interrupt-restore.sh <case> <build folder>
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
case="${1:?case}"
build="$(cd "${2:?build folder}" && pwd)"
if [ -z "${VELMORA_INTERRUPT_INNER:-}" ]; then
  export WINEPREFIX="$build/faults/interrupt-restore-$case"
  mkdir -p "$build/faults"
  VELMORA_INTERRUPT_INNER=1 exec "$root/scripts/winebench.sh" bash "$0" "$case" "$build"
fi

run() { "$root/scripts/wine-run.sh" "$@"; }
failures=0
fail() { echo "INTERRUPT RESTORE $case FAILED: $*"; exit 1; }
check() {   # check <what> <command...>
  local what="$1"; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
"$root/scripts/set-home.sh" "$build" || exit 1
drive_c="$WINEPREFIX/drive_c"
profile="$drive_c/users/$(whoami)"
work="$drive_c/InterruptRestore"
win='C:\InterruptRestore'
identity='{C9F3D3A4-18E6-4D2B-9A1B-4F6E2C8D1A10}'
rm -rf "$work" && mkdir -p "$work/Backup"
# As on a system where the product never ran: no key of its own for the user,
# no log yet.
run reg delete 'HKCU\Software\Orridge\Velmora' /f >/dev/null 2>&1
find "$profile" -path '*/Velmora/Wrenfold.log' -delete 2>/dev/null
run "$build/bin/MailFixtureTool.exe" remove >/dev/null 2>&1
run "$build/bin/MailFixtureTool.exe" setup >/dev/null || fail "setup"
store="$profile/Local Settings/Application Data/Identities/$identity/Microsoft/Outlook Express"
[ -f "$store/Inbox.dbx" ] || fail "no store file in the installation"
temp="$(run cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')"
temp_unix="$(run winepath -u "$temp" 2>/dev/null)"
[ -d "$temp_unix" ] || fail "no temporary folder ($temp)"
find "$temp_unix" -maxdepth 1 -iname 'vl[bhs]*' -delete   # of earlier runs on this prefix

# A large tree in the identity's key keeps its hive mounted for a while, and
# a large store file of random data keeps its extraction going.
{
  printf 'REGEDIT4\r\n\r\n'
  for k in $(seq 0 399); do
    printf '[HKEY_CURRENT_USER\\Identities\\%s\\Bulk\\Group %03d]\r\n' "$identity" "$k"
    for v in $(seq 0 49); do printf '"Value %02d"="%0200d"\r\n' "$v" "$((k * 50 + v))"; done
    printf '\r\n'
  done
} >"$work/bulk.reg"
run regedit /s "$win\\bulk.reg" || fail "the large registry tree"
[ "$case" = killed ] && head -c 60M /dev/urandom >"$store/Archive.dbx"

run "$build/bin/MailFixtureTool.exe" snapshot "$win\\backed-up.txt" >/dev/null || fail "snapshot"
run "$build/bin/OEDemo.exe" backup "$win\\Backup" >"$work/backup.out" 2>&1 || fail "backup: $(cat "$work/backup.out")"
archive="$work/Backup/Outlook Express.vlb"
cp "$archive" "$work/archive.copy"
log="$(find "$profile" -path '*/Velmora/Wrenfold.log' | head -1)"
[ -n "$log" ] || fail "no log"

# Work for a restore: new mail, a store file gone, a setting changed, a key added.
change_installation() {
  printf 'a message that came after the backup' >>"$store/Inbox.dbx"
  rm -f "$store/Sent Items.dbx"
  run reg add "HKCU\\Identities\\$identity\\Bulk\\Group 007" /v "Value 03" /d changed /f >/dev/null
  run reg add "HKCU\\Identities\\$identity\\Bulk\\Added after the backup" /v New /d 1 /f >/dev/null
}

# The script execs wine, and wine its loader: the pid of "restore ... &" is
# the Windows process itself.
restore() { exec "$root/scripts/wine-run.sh" "$build/bin/OEDemo.exe" restore "$win\\Backup\\Outlook Express.vlb" >"$work/$1.out" 2>&1; }
mounted() { run reg query 'HKU\TEMP_HIVE' >/dev/null 2>&1; }
wait_for_mount() {   # wait_for_mount <pid>: until the restore has its hive mounted
  for _ in $(seq 600); do
    mounted && return 0
    kill -0 "$1" 2>/dev/null || return 1
    sleep 0.05
  done
  return 1
}
wait_for_extraction() {   # wait_for_extraction <pid>: until the large store file is being written
  for _ in $(seq 1200); do
    [ -n "$(find "$store" -maxdepth 1 -iname 'vlb*.tmp' -size +4M 2>/dev/null)" ] && return 0
    kill -0 "$1" 2>/dev/null || return 1
    sleep 0.05
  done
  return 1
}
product='HKCU\Software\Orridge\Velmora'
has_key() { run reg query "$1" >/dev/null 2>&1; }
pending_safety() { run reg query "$product" /v "Restore Safety Target" >/dev/null 2>&1; }
describe_state() {
  local state=""
  mounted && state+=" TEMP_HIVE mounted;"
  has_key "$product\\Restore Safety Copy" && state+=" safety copy;"
  pending_safety && state+=" safety target;"
  has_key "$product\\Restore Incoming" && state+=" incoming copy;"
  [ -n "$(find "$store" -maxdepth 1 -iname 'vlb*.tmp')" ] && state+=" extraction file;"
  [ -n "$(find "$temp_unix" -maxdepth 1 -iname 'vlh*')" ] && state+=" hive file;"
  echo "   left by the killed restore:${state:- nothing}"
}
returned_one() { grep -q 'Restore() returned 1' "$work/$1.out" || { sed 's/^/   | /' "$work/$1.out"; false; }; }
same_installation() {
  run "$build/bin/MailFixtureTool.exe" snapshot "$win\\after.txt" >/dev/null &&
    diff "$work/backed-up.txt" "$work/after.txt" >"$work/snapshot.diff" ||
    { head -8 "$work/snapshot.diff"; false; }
}
no_mount() { ! mounted; }
no_working_keys() {
  ! has_key "$product\\Restore Safety Copy" && ! pending_safety && ! has_key "$product\\Restore Incoming"
}
no_extraction_file() {
  local left
  left="$(find "$profile" -iname 'vlb*.tmp' 2>/dev/null)"
  [ -z "$left" ] || { echo "   left behind: $left"; false; }
}
no_hive_file() {   # the extracted hives and the logs a load makes beside them
  local left
  left="$(find "$temp_unix" -maxdepth 1 \( -iname 'vlh*' -o -iname '*.LOG' -o -iname '*.LOG1' -o -iname '*.LOG2' \) 2>/dev/null)"
  [ -z "$left" ] || { echo "   left behind: $left"; false; }
}
no_undo_scratch() {
  local left
  left="$(find "$profile" -ipath '*Velmora/Undo/vlu*' 2>/dev/null)"
  [ -z "$left" ] || { echo "   left behind: $left"; false; }
}
log_mark() { log_start=$(stat -c %s "$log" 2>/dev/null || echo 0); }
new_log() { tail -c +$((log_start + 1)) "$log" 2>/dev/null; }
everything_as_backed_up() {   # everything_as_backed_up <run>
  check "$1: Restore returns 1" returned_one "$1"
  check "$1: installation equals the backed-up one" same_installation
  check "$1: archive byte-identical" cmp -s "$archive" "$work/archive.copy"
  check "$1: no TEMP_HIVE mount" no_mount
  check "$1: no safety copy, safety target or incoming copy" no_working_keys
  check "$1: no temporary extraction file" no_extraction_file
  check "$1: no hive file in the temporary folder" no_hive_file
  check "$1: no undo archive scratch" no_undo_scratch
}
kill_restore() {   # kill_restore <name> <wait function>
  change_installation
  restore "$1" &
  local pid=$!
  "$2" $pid || { kill -9 $pid 2>/dev/null; sed 's/^/   | /' "$work/$1.out"; fail "$1: the restore never got half way"; }
  kill -9 $pid; wait $pid 2>/dev/null
  grep -q 'Restore() returned' "$work/$1.out" && fail "$1: the restore finished before it was killed"
  sleep 0.5
  describe_state
}

case "$case" in
  killed)
    echo "== Killing a restore while its hive is mounted"
    kill_restore killed-mounted wait_for_mount
    log_mark
    (restore after-mounted)
    everything_as_backed_up after-mounted
    check "after-mounted: the stale mount is logged" bash -c "grep -q 'left the registry mount TEMP_HIVE behind' <<<\"\$1\"" _ "$(new_log)"

    echo "== Killing a restore while it extracts a large store file"
    # A fast disk writes the whole file between two looks; the restore waits
    # a little after each megabyte so that the kill lands inside the file.
    VELMORA_TEST_PAUSE_AFTER_SLAB=100 kill_restore killed-extracting wait_for_extraction
    check "killed-extracting: the kill left the large file part written" \
      bash -c '[ -n "$(find "$1" -maxdepth 1 -iname "vlb*.tmp" -size -60M)" ]' _ "$store"
    (restore after-extracting)
    everything_as_backed_up after-extracting
    ;;
  concurrent)
    echo "== A second restore while the first holds the mount"
    change_installation
    log_mark
    restore first &
    first=$!
    wait_for_mount $first || { kill -9 $first 2>/dev/null; fail "the first restore never mounted its hive"; }
    (restore second)
    second_rc=$?
    wait $first
    first_rc=$?
    check "the first restore ends with success" returned_one first
    check "the first restore's process returns 0" test "$first_rc" -eq 0
    if ! grep -q 'Restore() returned 1' "$work/second.out"; then
      # A second restore may give up on a key, but must say which and why.
      check "the second restore names the key it could not restore" \
        bash -c "grep -q 'TEMP_HIVE busy; the key .* is left as it was' <<<\"\$1\"" _ "$(new_log)"
      (restore final)
      everything_as_backed_up final
    else
      check "the second restore's process returns 0" test "$second_rc" -eq 0
      everything_as_backed_up second
    fi
    check "neither restore took the other's hive for a stale mount" \
      bash -c "! grep -F 'left the registry mount' <<<\"\$1\"" _ "$(new_log)"
    check "no restore failed to copy, unload or put back a key" \
      bash -c "! grep -E 'Failed to (restore|put back) the key' <<<\"\$1\"" _ "$(new_log)"
    ;;
  *) fail "unknown case" ;;
esac

# The settings the product reads at every start are optional: their missing
# key is no failure.
check "no failed open of an optional setting's key in the log" \
  bash -c "! grep -F 'RegOpenKeyEx call has failed.' \"\$1\"" _ "$log"
run "$build/bin/MailFixtureTool.exe" remove >/dev/null 2>&1
[ "$failures" -eq 0 ] || fail "$failures checks"
echo "INTERRUPT RESTORE $case SUCCEEDED"

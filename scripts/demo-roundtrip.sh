#!/bin/bash
# One mail client's round trip on the synthetic mail installation, inside the
# Wine test bench: back up everything, list the archive, remove what was
# backed up, restore, and compare registry trees and files byte for byte.
# Uses the home directory named by HKLM "Velmora Home"; when none is set, the
# build's own home directory.
#   scripts/demo-roundtrip.sh oe|ot [build folder]
#     oe: Outlook Express (Wrenfold), ot: Outlook (Wrenmark)
# With VELMORA_TRACE_DIR set, the backup and the restore run under Wine's file
# trace, written to <dir>/<client>-backup.trace and <dir>/<client>-restore.trace.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
client="${1:-}"
build="${2:-${VELMORA_BUILD:-$root/build}}"
run() { "$root/scripts/wine-run.sh" "$@"; }
# run_traced <step> <command...>: run, under the file trace when one is asked for.
run_traced() {
  local step="$1"; shift
  if [ -n "${VELMORA_TRACE_DIR:-}" ]; then
    local trace="$VELMORA_TRACE_DIR/$client-$step.trace" rc
    WINEDEBUG=-all,trace+file run "$@" 2>"$trace.raw"
    rc=$?
    # Reads and writes are most of the trace and show no rule: leave them out.
    grep -a -v -E 'trace:file:(Nt)?(Read|Write)File' "$trace.raw" >"$trace"
    rm -f "$trace.raw"
    return $rc
  else
    run "$@"
  fi
}
drive_c="$WINEPREFIX/drive_c"
profile="$drive_c/users/$(whoami)"

case "$client" in
  oe) title="OUTLOOK EXPRESS"; name="Outlook Express"; plugin=Wrenfold; what="identity"
      remove=remove-identities; removed="the identities, their message stores and the address book"
      # folder to compare, relative to the profile folder
      folders=("Local Settings/Application Data/Identities" "Application Data/Microsoft/Address Book") ;;
  ot) title="OUTLOOK"; name="Outlook"; plugin=Wrenmark; what="mail profile"
      remove=remove-outlook; removed="the mail profile, the account key and the data folder"
      folders=("Local Settings/Application Data/Microsoft/Outlook") ;;
  *) echo "usage: $0 oe|ot [build folder]"; exit 2 ;;
esac
fail() { echo "$title ROUND TRIP FAILED: $*"; run "$build/bin/MailFixtureTool.exe" remove >/dev/null 2>&1; exit 1; }

# The test run (VELMORA_DEMO_BUILD_HOME set) always uses the build's home,
# whatever an earlier demo installed into the prefix.
if [ -n "${VELMORA_DEMO_BUILD_HOME:-}" ] || ! run reg query 'HKLM\Software\Orridge\Velmora' /v "Velmora Home" >/dev/null 2>&1; then
  "$root/scripts/set-home.sh" "$build" || fail "no home directory"
fi
work="$drive_c/VelmoraDemo/$client"
win="C:\\VelmoraDemo\\$client"
rm -rf "$work" && mkdir -p "$work/Backup" "$work/copy"

echo "== Setting up the synthetic $name installation"
run "$build/bin/MailFixtureTool.exe" setup || fail "setup"
[ "$client" = oe ] && run "$build/bin/MailFixtureTool.exe" identities
run "$build/bin/MailFixtureTool.exe" snapshot "$win\\before.txt" || fail "snapshot"
for folder in "${folders[@]}"; do cp -a "$profile/$folder" "$work/copy/" || fail "copy of $folder"; done

echo "== Backing up every $what into $win\\Backup"
run_traced backup "$build/bin/OEDemo.exe" $plugin backup "$win\\Backup" || fail "backup"
archive="$work/Backup/$name.vlb"
echo "== Entries of $name.vlb, in stored order"
run "$build/bin/OEDemo.exe" list "$win\\Backup\\$name.vlb" || fail "list"
echo "== unzip -t"
unzip -tq "$archive" || fail "unzip -t"

echo "== Removing $removed"
run "$build/bin/MailFixtureTool.exe" $remove || fail "remove"
run "$build/bin/MailFixtureTool.exe" snapshot "$win\\removed.txt"
echo "   $(diff "$work/before.txt" "$work/removed.txt" | grep -c '^<') lines of the installation's description are gone"

echo "== Restoring from the archive"
run_traced restore "$build/bin/OEDemo.exe" $plugin restore "$win\\Backup\\$name.vlb" || fail "restore"
run "$build/bin/MailFixtureTool.exe" snapshot "$win\\after.txt"

echo "== Comparing"
cmp -s "$work/before.txt" "$work/after.txt" || { diff "$work/before.txt" "$work/after.txt" | head -20; fail "registry or files differ"; }
echo "   registry trees and file digests of the whole installation identical"
for folder in "${folders[@]}"; do
  diff -r "$work/copy/$(basename "$folder")" "$profile/$folder" || fail "files differ in $folder"
done
echo "   $(find "$work/copy" -type f | wc -l) files identical byte for byte"
run "$build/bin/MailFixtureTool.exe" remove >/dev/null
echo "$title ROUND TRIP SUCCEEDED"

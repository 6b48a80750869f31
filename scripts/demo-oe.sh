#!/bin/bash
# The Outlook Express round trip on the synthetic mail installation, inside
# the Wine test bench: back up every identity, list the archive, remove the
# identities and their files, restore, and compare registry trees and files
# byte for byte. Uses the home directory named by HKLM "Velmora Home"; when
# none is set, the build's own home directory.
#   scripts/demo-oe.sh [build folder]
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-${VELMORA_BUILD:-$root/build}}"
run() { "$root/scripts/wine-run.sh" "$@"; }
fail() { echo "OUTLOOK EXPRESS ROUND TRIP FAILED: $*"; run "$build/bin/MailFixtureTool.exe" remove >/dev/null 2>&1; exit 1; }

# The test run (VELMORA_DEMO_BUILD_HOME set) always uses the build's home,
# whatever an earlier demo installed into the prefix.
if [ -n "${VELMORA_DEMO_BUILD_HOME:-}" ] || ! run reg query 'HKLM\Software\Orridge\Velmora' /v "Velmora Home" >/dev/null 2>&1; then
  run reg add 'HKLM\Software\Orridge\Velmora' /v "Velmora Home" /d "Z:$(echo "$build/home" | tr / '\\')" /f >/dev/null
fi
drive_c="$WINEPREFIX/drive_c"
work="$drive_c/VelmoraDemo"
rm -rf "$work" && mkdir -p "$work/Backup"
profile="$drive_c/users/$(whoami)"

echo "== Setting up the synthetic Outlook Express installation"
run "$build/bin/MailFixtureTool.exe" setup || fail "setup"
run "$build/bin/MailFixtureTool.exe" identities
run "$build/bin/MailFixtureTool.exe" snapshot 'C:\VelmoraDemo\before.txt' || fail "snapshot"
mkdir -p "$work/copy" && cp -a "$profile/Local Settings/Application Data/Identities" "$work/copy/" \
  && cp -a "$profile/Application Data/Microsoft/Address Book" "$work/copy/"

echo "== Backing up every identity into C:\\VelmoraDemo\\Backup"
run "$build/bin/OEDemo.exe" backup 'C:\VelmoraDemo\Backup' || fail "backup"
archive="$work/Backup/Outlook Express.vlb"
echo "== Entries of Outlook Express.vlb, in stored order"
run "$build/bin/OEDemo.exe" list 'C:\VelmoraDemo\Backup\Outlook Express.vlb' || fail "list"
echo "== unzip -t"
unzip -tq "$archive" || fail "unzip -t"

echo "== Removing the identities, their message stores and the address book"
run "$build/bin/MailFixtureTool.exe" remove-identities || fail "remove"
run "$build/bin/MailFixtureTool.exe" snapshot 'C:\VelmoraDemo\removed.txt'
echo "   $(diff "$work/before.txt" "$work/removed.txt" | grep -c '^<') lines of the installation's description are gone"

echo "== Restoring from the archive"
run "$build/bin/OEDemo.exe" restore 'C:\VelmoraDemo\Backup\Outlook Express.vlb' || fail "restore"
run "$build/bin/MailFixtureTool.exe" snapshot 'C:\VelmoraDemo\after.txt'

echo "== Comparing"
cmp -s "$work/before.txt" "$work/after.txt" || { diff "$work/before.txt" "$work/after.txt" | head -20; fail "registry or files differ"; }
echo "   registry trees (Identities, accounts, WAB) and file digests identical"
diff -r "$work/copy/Identities" "$profile/Local Settings/Application Data/Identities" \
  && diff -r "$work/copy/Address Book" "$profile/Application Data/Microsoft/Address Book" \
  || fail "files differ"
echo "   $(find "$work/copy" -type f | wc -l) message store and address book files identical byte for byte"
run "$build/bin/MailFixtureTool.exe" remove >/dev/null
echo "OUTLOOK EXPRESS ROUND TRIP SUCCEEDED"

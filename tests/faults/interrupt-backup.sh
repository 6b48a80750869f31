#!/bin/bash
# A backup killed half way, on a Wine prefix of its own: the archive of the
# run before stays byte for byte, and the next backup into the same folder
# removes the hidden temporary archive and staging folder the killed run left,
# and nothing that only looks like them. A backup running while another one
# starts into the same folder keeps its files and finishes.
#   tests/faults/interrupt-backup.sh <build folder>
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:?build folder}" && pwd)"
if [ -z "${VELMORA_INTERRUPT_INNER:-}" ]; then
  export WINEPREFIX="$build/faults/interrupt-prefix"
  mkdir -p "$build/faults"
  VELMORA_INTERRUPT_INNER=1 exec "$root/scripts/winebench.sh" bash "$0" "$build"
fi

run() { "$root/scripts/wine-run.sh" "$@"; }
fail() { echo "INTERRUPT BACKUP FAILED: $*"; exit 1; }
"$root/scripts/set-home.sh" "$build" || exit 1
drive_c="$WINEPREFIX/drive_c"
profile="$drive_c/users/$(whoami)"
work="$drive_c/Interrupt"
win='C:\Interrupt'
rm -rf "$work" && mkdir -p "$work/Backup"
run "$build/bin/MailFixtureTool.exe" remove >/dev/null 2>&1
run "$build/bin/MailFixtureTool.exe" setup >/dev/null || fail "setup"

# A store big enough that the backup can be caught half way: random data, so
# compressing it takes its time.
store="$(find "$profile" -iname 'Inbox.dbx' | head -1)"
[ -n "$store" ] || fail "no store file in the installation"
head -c 80M /dev/urandom >"$(dirname "$store")/Archive.dbx"

# The script execs wine, and wine its loader: the pid of "backup ... &" is the
# Windows process itself.
backup() { exec "$root/scripts/wine-run.sh" "$build/bin/OEDemo.exe" Wrenfold backup "$win\\Backup" >"$work/$1.out" 2>&1; }
# wait_for_temp: until a temporary archive has some data in it.
wait_for_temp() {
  for _ in $(seq 600); do
    [ -n "$(find "$work/Backup" -maxdepth 1 -iname 'vlb*.tmp' -size +2M 2>/dev/null)" ] && return 0
    sleep 0.05
  done
  return 1
}
leftovers() { find "$work/Backup" -maxdepth 1 \( -iname 'vlb*.tmp' -o -name '~vlstage*' \) ! -name '*decoy*' | sort; }

(backup first) || fail "first backup"
archive="$work/Backup/Outlook Express.vlb"
cp "$archive" "$work/previous.vlb"

# Look-alikes that are not ours: a plain file of the temporary name, a hidden
# folder of the staging name holding something else.
echo "user data" >"$work/Backup/vlb1A2B.tmp"
mkdir -p "$work/Backup/~vlstage0000abcd" && echo "letter" >"$work/Backup/~vlstage0000abcd/letter.txt"
run attrib +h "$win\\Backup\\~vlstage0000abcd" >/dev/null 2>&1

echo "== Killing a backup half way"
backup killed &
pid=$!
wait_for_temp || { kill -9 $pid; fail "no temporary archive appeared"; }
kill -9 $pid; wait $pid 2>/dev/null
grep -q "returned" "$work/killed.out" && fail "the backup finished before it was killed"
sleep 0.5
cmp -s "$archive" "$work/previous.vlb" || fail "the previous archive changed"
left="$(leftovers | grep -v -e vlb1A2B.tmp -e '~vlstage0000abcd')"
[ -n "$left" ] || fail "the killed run left nothing to clear (was it killed too late?)"
echo "   left behind: $(echo $left | xargs -n1 basename | tr '\n' ' ')"

echo "== Two backups into the same folder at once"
backup running &
pid=$!
wait_for_temp || { kill -9 $pid; fail "no temporary archive appeared"; }
(backup second) || fail "the second backup"
wait $pid || fail "the backup that was running when the second one started"
grep -q 'Backup(.*) returned 1' "$work/running.out" || fail "the running backup did not report success"

unzip -tq "$archive" >/dev/null || fail "unzip -t"
unzip -l "$archive" | grep -q 'Archive.dbx' || fail "the big store is missing from the archive"
left="$(leftovers | grep -v -e vlb1A2B.tmp -e '~vlstage0000abcd')"
[ -z "$left" ] || fail "left behind: $left"
# Nor in the temporary folder: no hive or summary file, no transaction log of
# a hive, and no mount.
temp="$(run cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')"
temp_unix="$(run winepath -u "$temp" 2>/dev/null)"
[ -d "$temp_unix" ] || fail "no temporary folder ($temp)"
left="$(find "$temp_unix" -maxdepth 1 \( -iname 'vl[hs]*' -o -iname '*.LOG' -o -iname '*.LOG1' -o -iname '*.LOG2' \))"
[ -z "$left" ] || fail "left in the temporary folder: $left"
run reg query 'HKU\TEMP_HIVE' >/dev/null 2>&1 && fail "a TEMP_HIVE mount is left"
[ -f "$work/Backup/vlb1A2B.tmp" ] || fail "a user's file of the temporary name was removed"
[ -f "$work/Backup/~vlstage0000abcd/letter.txt" ] || fail "a folder of the staging name with other content was removed"
run "$build/bin/MailFixtureTool.exe" remove >/dev/null 2>&1
echo "INTERRUPT BACKUP SUCCEEDED"

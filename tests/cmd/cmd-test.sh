#!/bin/bash
# VelmoraCmd.exe under Wine on the synthetic mail installation: help and usage
# errors, clients, backup, list, verify, a damaged archive given to verify and
# to restore, a declined restore and the restore of a selection, each exit
# code; the help in Korean under a Korean locale.
#   tests/cmd/cmd-test.sh [build folder]
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-${VELMORA_BUILD:-$root/build}}"
run() { "$root/scripts/wine-run.sh" "$@"; }
cmd="$build/home/VelmoraCmd.exe"
drive_c="$WINEPREFIX/drive_c"
work="$drive_c/VelmoraCmdTest"
win='C:\VelmoraCmdTest'
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
# expect <exit code> <text the output must hold, or ""> <arguments...>; output in $out
expect() {
  local code="$1" text="$2"; shift 2
  out="$(run "$cmd" "$@" </dev/null 2>&1)"
  local rc=$?
  out="$(tr -d '\r' <<<"$out")"
  [ "$rc" = "$code" ] || fail "VelmoraCmd $* exited with $rc, not $code: $out"
  [ -z "$text" ] || grep -qF -- "$text" <<<"$out" || fail "VelmoraCmd $* did not say \"$text\": $out"
}
cleanup() { run "$build/bin/MailFixtureTool.exe" remove >/dev/null 2>&1; rm -rf "$work"; }
trap cleanup EXIT

"$root/scripts/set-home.sh" "$build" || exit 1
rm -rf "$work" && mkdir -p "$work/Backup"

echo "== Help and usage errors"
expect 0 "Usage: VelmoraCmd <command> [options]" --help
expect 0 "--identity NAME" backup --help
expect 0 "--yes" restore --help
expect 2 "No command given."
expect 2 "Unknown command: frobnicate" frobnicate
expect 2 "needs exactly one path" backup
expect 2 "needs exactly one path" list "$win\\a.vlb" "$win\\b.vlb"
expect 2 "Unknown item Contacts" backup "$win\\Backup" --item Contacts
expect 2 "has no option --yes" backup "$win\\Backup" --yes
expect 2 "needs a name after it" backup "$win\\Backup" --client
expect 2 "takes no path" clients "$win"

echo "== The synthetic installation"
run "$build/bin/MailFixtureTool.exe" setup >/dev/null || { fail "setup"; exit 1; }
expect 0 "Outlook Express" clients
for line in "  Main Identity" "  Alice Martin" "    Messages" "    Accounts" "Outlook"; do
  grep -qxF -- "$line" <<<"$out" || fail "clients does not list \"$line\": $out"
done

echo "== Backup of everything, then of a client that does not exist"
expect 0 "Outlook Express: $win\\Backup\\Outlook Express.vlb written and verified." backup "$win\\Backup"
grep -qF "Outlook: $win\\Backup\\Outlook.vlb written and verified." <<<"$out" || fail "no line for Outlook: $out"
grep -qF "Please close" <<<"$out" && fail "a warning with no mail client running: $out"
for archive in "Outlook Express" Outlook; do
  unzip -tq "$work/Backup/$archive.vlb" >/dev/null || fail "unzip -t $archive.vlb"
done
log="$(find "$drive_c/users" -path '*/Velmora/Wrenfold.log' | head -1)"
grep -aqE "Backup check: [1-9][0-9]* entries verified, [1-9][0-9]* bytes, in [0-9]+ ms\." "$log" \
  || fail "the plug-in log $log has no check line"
expect 1 "Nothing named Thunderbird was found." backup "$win\\Backup" --client Thunderbird
expect 1 "the backup failed" backup "$win\\missing" --client "Outlook Express"

echo "== List and verify"
archive="$win\\Backup\\Outlook Express.vlb"
expect 0 "System summary:" list "$archive"
grep -qxF "  Bob Okafor" <<<"$out" || fail "list does not show Bob Okafor: $out"
expect 0 "entries verified" verify "$archive"
grep -qF "fits this system" <<<"$out" || fail "verify did not check the summary: $out"

echo "== A damaged archive given to verify and to restore"
mkdir -p "$work/Damaged" && cp "$work/Backup/Outlook Express.vlb" "$work/Damaged/"
damaged="$work/Damaged/Outlook Express.vlb"
python3 - "$damaged" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
# The first entry with data: flip a byte in the middle of it.
at = 0
while data[at:at + 4] == b"PK\x03\x04":
    size, = struct.unpack_from("<I", data, at + 18)
    name, extra = struct.unpack_from("<HH", data, at + 26)
    start = at + 30 + name + extra
    if size > 16:
        data[start + size // 2] ^= 0xFF
        break
    at = start + size
open(sys.argv[1], "wb").write(data)
PY
run "$build/bin/MailFixtureTool.exe" snapshot "$win\\before.txt"
expect 1 "is damaged at the entry Outlook Express\\" verify "$win\\Damaged\\Outlook Express.vlb"
expect 1 "is damaged at the entry" restore "$win\\Damaged\\Outlook Express.vlb" --yes
run "$build/bin/MailFixtureTool.exe" snapshot "$win\\after.txt"
cmp -s "$work/before.txt" "$work/after.txt" || fail "the refused restore changed the installation"

echo "== An archive made for another user: the plug-in's own message box, exit code 1"
mkdir -p "$work/Other"
python3 - "$work/Backup/Outlook Express.vlb" "$work/Other/Outlook Express.vlb" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as source, zipfile.ZipFile(sys.argv[2], "w", zipfile.ZIP_DEFLATED) as target:
    for info in source.infolist():
        data = source.read(info)
        if info.filename.endswith("summary.txt"):
            data = b"".join(b"User_Name: somebody else\r\n" if line.startswith(b"User_Name:") else line
                            for line in data.splitlines(True))
        target.writestr(info, data)
PY
run "$cmd" restore "$win\\Other\\Outlook Express.vlb" --yes >"$work/other.txt" 2>&1 &
pid=$!
box=""
for _ in $(seq 150); do
  box="$(xdotool search --onlyvisible --class 'velmoracmd.exe' 2>/dev/null | head -1)"
  [ -n "$box" ] && break
  sleep 0.2
done
if [ -n "$box" ]; then
  sleep 0.5
  xdotool windowactivate --sync "$box" >/dev/null 2>&1; xdotool key Return
else
  fail "no message box for an archive of another user"
fi
for _ in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.2; done
kill -0 $pid 2>/dev/null && { kill $pid; fail "the restore did not end after its message box"; }
wait $pid
rc=$?
[ "$rc" = 1 ] || fail "the restore of another user's archive exited with $rc: $(cat "$work/other.txt")"
grep -qF "Failed to initialize Outlook Express for restoration" "$work/other.txt" || fail "no failure named: $(cat "$work/other.txt")"
run "$build/bin/MailFixtureTool.exe" snapshot "$win\\after.txt"
cmp -s "$work/before.txt" "$work/after.txt" || fail "the refused restore changed the installation"

echo "== A declined restore changes nothing"
out="$(echo n | run "$cmd" restore "$archive" 2>&1)"
rc=$?
out="$(tr -d '\r' <<<"$out")"
[ "$rc" = 1 ] || fail "a declined restore exited with $rc"
grep -qF "Restore now? (y/n)" <<<"$out" && grep -qF "Nothing was restored." <<<"$out" || fail "no question or answer: $out"
run "$build/bin/MailFixtureTool.exe" snapshot "$win\\after.txt"
cmp -s "$work/before.txt" "$work/after.txt" || fail "the declined restore changed the installation"

echo "== A running mail client: the desktop program's warning, then the run goes on"
# The stand-in is an idle program of ours under the mail client's image name:
# it holds a scratch file and ends when its flag file is removed.
mkdir -p "$work/StandIn"
for file in resource-locker.exe libgcc_s_dw2-1.dll libgcc_s_seh-1.dll libstdc++-6.dll libwinpthread-1.dll; do
  [ -f "$build/bin/$file" ] && cp "$build/bin/$file" "$work/StandIn/"
done
echo held >"$work/StandIn/held.txt"
warning="Please close Outlook/Outlook Express before continue."
for name in msimn.exe OUTLOOK.EXE; do
  cp "$work/StandIn/resource-locker.exe" "$work/StandIn/$name"
  run "$work/StandIn/$name" "$win\\StandIn\\held.txt" "$win\\StandIn\\running.flag" >/dev/null 2>&1 &
  standin=$!
  for _ in $(seq 100); do [ -f "$work/StandIn/running.flag" ] && break; sleep 0.1; done
  [ -f "$work/StandIn/running.flag" ] || fail "the stand-in $name did not start"
  expect 0 "$warning" backup "$win\\Backup" --client "Outlook Express"
  grep -qF "written and verified." <<<"$out" || fail "no backup beside the warning for $name: $out"
  out="$(echo n | run "$cmd" restore "$archive" 2>&1 | tr -d '\r')"
  grep -qF "$warning" <<<"$out" && grep -qF "Restore now? (y/n)" <<<"$out" \
    || fail "no warning before the question for $name: $out"
  rm -f "$work/StandIn/running.flag"
  wait "$standin"
done
sleep 1   # the stand-ins look for their flag every 100 ms
program_log="$(find "$drive_c/users" -path '*/Velmora/Velmora.log' | head -1)"
grep -aqF "A mail client is running while its data is backed up." "$program_log" || fail "no warning in $program_log"
grep -aqF "A mail client is running while its data is restored." "$program_log" || fail "no warning in $program_log"
run "$build/bin/MailFixtureTool.exe" snapshot "$win\\after.txt"
cmp -s "$work/before.txt" "$work/after.txt" || fail "the declined restore changed the installation"
expect 0 "" backup "$win\\Backup" --client "Outlook Express"
grep -qF "$warning" <<<"$out" && fail "a warning after the mail client ended: $out"

echo "== Restore of a selection after the identities are gone"
run "$build/bin/MailFixtureTool.exe" remove-identities >/dev/null
expect 1 "Nothing named Nobody was found." restore "$archive" --identity Nobody --yes
expect 0 "Outlook Express: restored from $archive." restore "$archive" --identity "Main Identity" --yes
expect 0 "" clients
grep -qxF "  Main Identity" <<<"$out" || fail "Main Identity was not restored: $out"
grep -qxF "  Alice Martin" <<<"$out" && fail "Alice Martin was restored without being chosen: $out"

echo "== Korean interface"
out="$(env LC_ALL=ko_KR.UTF-8 "$root/scripts/wine-run.sh" "$cmd" --help 2>&1 | iconv -f CP949 -t UTF-8 | tr -d '\r')"
grep -qF "사용법: VelmoraCmd <명령> [옵션]" <<<"$out" || fail "no Korean help: $out"

[ "$failures" = 0 ] && echo "VELMORA CMD TESTS PASSED" || { echo "$failures VelmoraCmd checks failed"; exit 1; }

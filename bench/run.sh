#!/bin/bash
# The archive benchmark, run inside the Wine bench by `make bench`: a backup
# and a restore of a large synthetic mail store through the real plug-ins,
# against Info-ZIP `zip -r -6` and `unzip` on the same data in the same run.
#   bench/run.sh [build folder]
# Our times are those of the whole Windows process (Wine start-up included);
# the driver also prints the export's own time. Data is generated once into <build>/benchdata and kept; archives and
# extracted copies are removed at the end. VELMORA_BENCH_OE_MB and
# VELMORA_BENCH_PST_MB change the sizes (600 and 1024).
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-${VELMORA_BUILD:-$root/build}}"
data="$build/benchdata"
oe_mb="${VELMORA_BENCH_OE_MB:-600}"
pst_mb="${VELMORA_BENCH_PST_MB:-1024}"
run() { "$root/scripts/wine-run.sh" "$@"; }
measure() { python3 "$root/bench/measure.py" "$@"; }
field() { python3 -c 'import json,sys; print(json.loads(sys.argv[1])[sys.argv[2]])' "$1" "$2"; }

drive_c="$WINEPREFIX/drive_c"
work="$drive_c/VelmoraBench"
profile="$drive_c/users/$(whoami)"
oe_store="$profile/Local Settings/Application Data/Identities/{C9F3D3A4-18E6-4D2B-9A1B-4F6E2C8D1A10}/Microsoft/Outlook Express"
ot_data="$profile/Local Settings/Application Data/Microsoft/Outlook"
status=0
# While a case runs, its cached data lives in the installation; it goes back
# to the cache whatever happens.
moved_from="" moved_to=""
put_back() {
  if [ -n "$moved_to" ] && [ -e "$moved_to" ]; then rm -rf "$moved_from" && mv "$moved_to" "$moved_from"; fi
  moved_from="" moved_to=""
}
cleanup() { put_back; rm -rf "$work"; run "$build/bin/MailFixtureTool.exe" remove >/dev/null 2>&1; }
trap cleanup EXIT

echo "== Benchmark data (generated once, kept in $data)"
mkdir -p "$data"
python3 "$root/bench/gen_data.py" oe "$data/oe" "$oe_mb" || exit 1
run reg add 'HKLM\Software\Orridge\Velmora' /v "Velmora Home" /d "Z:$(echo "$build/home" | tr / '\\')" /f >/dev/null
python3 "$root/bench/gen_data.py" pst "$data/Outlook.pst" "$pst_mb" || exit 1

mb() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1048576 }'; }
rate() { awk -v b="$1" -v s="$2" 'BEGIN { printf "%.1f", b / 1048576 / s }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
uncompressed() { zipinfo -t "$1" | sed -n 's/.* \([0-9]*\) bytes uncompressed.*/\1/p'; }
load() { echo "load $(cut -d' ' -f1-3 /proc/loadavg)"; }
report() {   # label bytes json
  printf '   %-22s %8s MB in %7.2f s = %7s MB/s   cpu %6.2f s  machine busy %3.0f%% of %d cpus  load %.2f' \
    "$1" "$(mb "$2")" "$(field "$3" wall)" "$(rate "$2" "$(field "$3" wall)")" "$(field "$3" cpu)" \
    "$(awk -v b="$(field "$3" machine_busy)" 'BEGIN { print b * 100 }')" "$(field "$3" cpus)" "$(field "$3" load)"
  [ "$(field "$3" peak_kb)" != 0 ] && printf '  peak %s MiB' "$(awk -v k="$(field "$3" peak_kb)" 'BEGIN { printf "%.1f", k / 1024 }')"
  echo
}
verdict() {   # what ratio target
  if awk -v r="$2" -v t="$3" 'BEGIN { exit !(r >= t) }'; then echo "   $1: $2 (target >= $3) met"
  else echo "   $1: $2 (target >= $3) MISSED"; status=1; fi
}

# bench_case <title> <plug-in dll> <archive name> <cached data> <its place in the installation>
bench_case() {
  local title="$1" dll="$2" archive_name="$3" cached="$4" live="$5"
  echo
  echo "== $title"
  rm -rf "$work" && mkdir -p "$work/Backup" "$work/zip" "$work/unzip"
  run "$build/bin/MailFixtureTool.exe" setup >/dev/null || { echo "setting up the installation failed"; status=1; return; }
  rm -rf "$live" && mkdir -p "$(dirname "$live")" && mv "$cached" "$live" && moved_from="$cached" moved_to="$live"
  find "$live" -type f -exec cat {} + >/dev/null   # the same warm cache for both sides
  sync
  echo "   $(load), before the runs"

  local ours theirs archive="$work/Backup/$archive_name"
  ours="$(measure --watch BenchDriver -- "$root/scripts/wine-run.sh" "$build/bin/BenchDriver.exe" "$dll" backup 'C:\VelmoraBench\Backup')"
  [ "$(field "$ours" rc)" = 0 ] && [ -f "$archive" ] || { echo "   our backup failed: $ours"; status=1; return; }
  sync
  unzip -tq "$archive" >/dev/null || { echo "   our archive fails unzip -t"; status=1; return; }
  local our_bytes; our_bytes="$(uncompressed "$archive")"
  local our_size; our_size="$(stat -c %s "$archive")"

  # The restore writes into an empty place: the original goes back to the cache.
  put_back
  local restore
  restore="$(measure --watch BenchDriver -- "$root/scripts/wine-run.sh" "$build/bin/BenchDriver.exe" "$dll" restore "C:\\VelmoraBench\\Backup\\$archive_name")"
  sync
  [ "$(field "$restore" rc)" = 0 ] || { echo "   our restore failed: $restore"; status=1; }
  if diff -rq "$cached" "$live" >/dev/null; then echo "   restored data identical to the original"
  else echo "   restored data DIFFERS from the original"; status=1; fi
  rm -rf "$live" "$work/Backup"/*
  sync

  local parent; parent="$(dirname "$cached")"
  theirs="$(cd "$parent" && measure -- zip -r -6 -q "$work/zip/theirs.zip" "$(basename "$cached")")"
  sync
  local their_bytes; their_bytes="$(uncompressed "$work/zip/theirs.zip")"
  local their_size; their_size="$(stat -c %s "$work/zip/theirs.zip")"
  local unzipped
  unzipped="$(measure -- unzip -q "$work/zip/theirs.zip" -d "$work/unzip")"
  sync
  rm -rf "$work/zip" "$work/unzip"

  local our_w their_w our_r their_r
  our_w="$(rate "$our_bytes" "$(field "$ours" wall)")"; their_w="$(rate "$their_bytes" "$(field "$theirs" wall)")"
  our_r="$(rate "$our_bytes" "$(field "$restore" wall)")"; their_r="$(rate "$their_bytes" "$(field "$unzipped" wall)")"
  echo "   archives: ours $(mb "$our_size") MB, zip -6 $(mb "$their_size") MB"
  report "backup (plug-in)" "$our_bytes" "$ours"
  report "zip -r -6" "$their_bytes" "$theirs"
  report "restore (plug-in)" "$our_bytes" "$restore"
  report "unzip" "$their_bytes" "$unzipped"
  verdict "backup / zip -6" "$(ratio "$our_w" "$their_w")" 0.8
  verdict "restore / unzip" "$(ratio "$our_r" "$their_r")" 0.8
  local peak; peak="$(( $(field "$ours" peak_kb) > $(field "$restore" peak_kb) ? $(field "$ours" peak_kb) : $(field "$restore" peak_kb) ))"
  if [ "$peak" -lt $((64 * 1024)) ]; then echo "   peak memory of the Wine process: $((peak / 1024)) MiB (target < 64 MiB) met"
  else echo "   peak memory of the Wine process: $((peak / 1024)) MiB (target < 64 MiB) MISSED"; status=1; fi
  [ "$(field "$ours" watched)" = 1 ] && [ "$(field "$restore" watched)" = 1 ] \
    || echo "   (the Windows process was not watched as one process: $ours $restore)"
}

bench_case "Outlook Express: a ${oe_mb} MB message store through Wrenfold" Wrenfold.dll "Outlook Express.vlb" "$data/oe" "$oe_store"
bench_case "Outlook: a ${pst_mb} MB data file through Wrenmark" Wrenmark.dll "Outlook.vlb" "$data/Outlook.pst" "$ot_data/Outlook.pst"
echo
[ "$status" = 0 ] && echo "BENCHMARK: every target met" || echo "BENCHMARK: some target missed or a run failed"
exit "$status"

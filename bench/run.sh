#!/bin/bash
# The archive benchmark, run inside the Wine bench by `make bench`: a backup
# and a restore of a large synthetic mail store through the real plug-ins,
# against Info-ZIP `zip -r -6` and `unzip` on the same data in the same run.
#   bench/run.sh [build folder]
# Our times are those of the whole Windows process (Wine start-up included);
# the driver also prints the export's own time. Data is generated once into <build>/benchdata and kept; archives and
# extracted copies are removed at the end. VELMORA_BENCH_OE_MB,
# VELMORA_BENCH_PST_MB and VELMORA_BENCH_MANY_MB change the sizes (600, 1024
# and 600); the last is the store of about 1,500 files. A scaling line gives
# the restore time per file at 100, 1,000 and 10,000 small files.
# VELMORA_BENCH_CASES picks cases out of "oe pst many scaling" (all of them
# by default), for working on one.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-${VELMORA_BUILD:-$root/build}}"
data="$build/benchdata"
oe_mb="${VELMORA_BENCH_OE_MB:-600}"
pst_mb="${VELMORA_BENCH_PST_MB:-1024}"
many_mb="${VELMORA_BENCH_MANY_MB:-600}"
run() { "$root/scripts/wine-run.sh" "$@"; }
measure() { python3 "$root/bench/measure.py" "$@"; }
cases=" ${VELMORA_BENCH_CASES:-oe pst many scaling} "
wanted() { [[ "$cases" == *" $1 "* ]]; }
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
wanted oe && { python3 "$root/bench/gen_data.py" oe "$data/oe" "$oe_mb" || exit 1; }
"$root/scripts/set-home.sh" "$build" || exit 1
wanted pst && { python3 "$root/bench/gen_data.py" pst "$data/Outlook.pst" "$pst_mb" || exit 1; }

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

# unzip -t, 7z t and Python's zipfile test; says which fails.
check_archive() {
  local bad=""
  unzip -tq "$1" >/dev/null 2>&1 || bad="$bad unzip-t"
  7z t "$1" >/dev/null 2>&1 || bad="$bad 7z-t"
  python3 -c 'import sys, zipfile; sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)' "$1" 2>/dev/null \
    || bad="$bad python-zipfile"
  if [ -n "$bad" ]; then echo "   our archive FAILS:$bad"; status=1; return 1; fi
  echo "   our archive passes unzip -t, 7z t and Python's zipfile test"
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
  check_archive "$archive" || return
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
  verdict "backup / zip -6" "$(ratio "$our_w" "$their_w")" 1.8
  verdict "restore / unzip" "$(ratio "$our_r" "$their_r")" 1.6
  local peak; peak="$(( $(field "$ours" peak_kb) > $(field "$restore" peak_kb) ? $(field "$ours" peak_kb) : $(field "$restore" peak_kb) ))"
  if [ "$peak" -lt $((64 * 1024)) ]; then echo "   peak memory of the Wine process: $((peak / 1024)) MiB (target < 64 MiB) met"
  else echo "   peak memory of the Wine process: $((peak / 1024)) MiB (target < 64 MiB) MISSED"; status=1; fi
  [ "$(field "$ours" watched)" = 1 ] && [ "$(field "$restore" watched)" = 1 ] \
    || echo "   (the Windows process was not watched as one process: $ours $restore)"
}

wanted oe && bench_case "Outlook Express: a ${oe_mb} MB message store through Wrenfold" Wrenfold.dll "Outlook Express.vlb" "$data/oe" "$oe_store"
wanted pst && bench_case "Outlook: a ${pst_mb} MB data file through Wrenmark" Wrenmark.dll "Outlook.vlb" "$data/Outlook.pst" "$ot_data/Outlook.pst"
wanted many && { python3 "$root/bench/gen_data.py" many "$data/many" "$many_mb" || exit 1; } && bench_case "Outlook Express: a store of $(find "$data/many" -type f | wc -l) files, ${many_mb} MB, through Wrenfold" \
  Wrenfold.dll "Outlook Express.vlb" "$data/many" "$oe_store"

# Restore time per file of small stores, from the export's own time (the
# driver's), so Wine's start-up does not hide the growth.
echo
wanted scaling && echo "== Restore time per file, stores of small files through Wrenfold"
declare -A per_file
for count in 100 1000 10000; do
  wanted scaling || break
  python3 "$root/bench/gen_data.py" small "$data/small$count" "$count" || exit 1
  rm -rf "$work" && mkdir -p "$work/Backup"
  run "$build/bin/MailFixtureTool.exe" setup >/dev/null || { echo "setting up the installation failed"; status=1; break; }
  rm -rf "$oe_store" && mkdir -p "$(dirname "$oe_store")" && mv "$data/small$count" "$oe_store" \
    && moved_from="$data/small$count" moved_to="$oe_store"
  run "$build/bin/BenchDriver.exe" Wrenfold.dll backup 'C:\VelmoraBench\Backup' >/dev/null 2>&1 \
    || { echo "   backup of $count files failed"; status=1; put_back; break; }
  put_back
  driver="$(run "$build/bin/BenchDriver.exe" Wrenfold.dll restore 'C:\VelmoraBench\Backup\Outlook Express.vlb' 2>&1)"
  seconds="$(echo "$driver" | sed -n 's/.*export \([0-9.]*\) s.*, result 1.*/\1/p')"
  if [ -z "$seconds" ] || ! diff -rq "$data/small$count" "$oe_store" >/dev/null; then
    echo "   restore of $count files failed or differs: $driver"; status=1; break
  fi
  per_file[$count]="$(awk -v s="$seconds" -v n="$count" 'BEGIN { printf "%.3f", s * 1000 / n }')"
  echo "   $count files: restore $seconds s, ${per_file[$count]} ms per file   $(load)"
  rm -rf "$oe_store"
done
if [ -n "${per_file[100]:-}" ] && [ -n "${per_file[10000]:-}" ]; then
  growth="$(ratio "${per_file[10000]}" "${per_file[100]}")"
  if awk -v g="$growth" 'BEGIN { exit !(g <= 2) }'; then echo "   per file at 10,000 / at 100: $growth (target <= 2) met"
  else echo "   per file at 10,000 / at 100: $growth (target <= 2) MISSED"; status=1; fi
fi
echo
[ "$status" = 0 ] && echo "BENCHMARK: every target met" || echo "BENCHMARK: some target missed or a run failed"
exit "$status"

#!/bin/bash
# Our archives against Info-ZIP, from the Linux side. "interop <build dir>": ours pass
# unzip -t, Info-ZIP's are read back by us. "large <build dir>": a 4.5 GiB file round
# trip (zip64), skipped (77) unless VELMORA_LARGE_TESTS is set and the disk has room.
set -euo pipefail
build="$(realpath "$2")"
work="$(mktemp -d "$build/zipinterop.XXXXXX")"
trap 'rm -rf "$work"' EXIT
winpath() { echo "Z:$(realpath -m "$1" | sed 's#/#\\#g')"; }
ziptool() { "$(dirname "$0")/../../scripts/wine-run.sh" "$build/bin/ZipTool.exe" "$1" "$(winpath "$2")" ${3:+"$(winpath "$3")"}; }
fail() { echo "FAIL: $*" >&2; exit 1; }
unzip_ok() {  # exit code 1: only the warning about backslash names
    out="$(unzip -t "$1" 2>&1)" || [ $? -eq 1 ] || fail "unzip -t $1: $out"
    echo "$out" | grep -q "No errors detected" || fail "unzip -t $1: $out"
}

if [ "$1" = interop ]; then
    src="$work/src/Outlook"
    mkdir -p "$src/Sub/Deeper" "$src/Empty Folder" && : > "$src/empty.dat"
    seq 1 200000 > "$src/Sub/Deeper/numbers with spaces.txt"
    # Stored by Info-ZIP; many deflate chunks of mixed content; exactly two chunks.
    head -c 300000 /dev/urandom > "$src/Sub/random.bin"
    { seq 1 150000; head -c 900000 /dev/urandom; head -c 400000 /dev/zero; } > "$src/Sub/mixed.dbx"
    head -c $((2 * 256 * 1024)) "$src/Sub/mixed.dbx" > "$src/Sub/two chunks.dbx"
    ziptool zip "$work/ours.vlb" "$src" || fail "our zip"
    unzip_ok "$work/ours.vlb"
    7z t "$work/ours.vlb" 2>&1 | grep -q "Everything is Ok" || fail "7z t"
    python3 -c 'import sys,zipfile; assert zipfile.ZipFile(sys.argv[1]).testzip() is None' "$work/ours.vlb" ||
        fail "Python zipfile testzip"
    ziptool extract "$work/ours.vlb" "$work/back" && diff -r "$src" "$work/back/Outlook" || fail "our round trip"
    ziptool zip "$work/empty.vlb"
    python3 -c 'import sys,zipfile; assert zipfile.ZipFile(sys.argv[1]).testzip() is None' "$work/empty.vlb"
    (cd "$work/src" && zip -q -r -6 "$work/infozip.zip" Outlook)
    ziptool list "$work/infozip.zip" | tr -d '\r' | grep -q "^Outlook\\\\Empty Folder\\\\	0	00000000	folder$" ||
        fail "Info-ZIP folder entry not read as a folder"
    ziptool extract "$work/infozip.zip" "$work/fromzip" && diff -r "$src" "$work/fromzip/Outlook" || fail "Info-ZIP"
    # Python writes "/" names, stored and deflated entries alike; we list them with "\\".
    python3 - "$work/src" "$work/python.zip" <<'EOF2'
import os, sys, zipfile
with zipfile.ZipFile(sys.argv[2], "w") as z:
    for i, (folder, _, files) in enumerate(os.walk(os.path.join(sys.argv[1], "Outlook"))):
        for name in files:
            path = os.path.join(folder, name)
            z.write(path, os.path.relpath(path, sys.argv[1]), zipfile.ZIP_STORED if i % 2 else zipfile.ZIP_DEFLATED)
EOF2
    ziptool list "$work/python.zip" | tr -d '\r' | grep -q "^Outlook\\\\Sub\\\\Deeper\\\\numbers with spaces.txt	" ||
        fail "Python archive names not listed with backslashes"
    ziptool extract "$work/python.zip" "$work/frompython" &&
        diff -r --exclude="Empty Folder" "$src" "$work/frompython/Outlook" || fail "Python archive"
elif [ "$1" = large ]; then
    [ -n "${VELMORA_LARGE_TESTS:-}" ] || { echo "skipped: set VELMORA_LARGE_TESTS=1"; exit 77; }
    [ "$(df -Pk "$work" | awk 'NR==2 {print $4}')" -ge $((12 << 20)) ] || { echo "skipped: < 12 GiB free"; exit 77; }
    size=$((4608 << 20))
    mkdir -p "$work/big" && truncate -s "$size" "$work/big/Store.pst"
    for off in $(((4 << 30) - 10)) $((size - 4096)); do   # across the 4 GiB mark, and the end
        head -c 4096 /dev/urandom > "$work/block.$off"
        dd if="$work/block.$off" of="$work/big/Store.pst" bs=4096 oflag=seek_bytes seek="$off" conv=notrunc status=none
    done
    ziptool add "$work/big.vlb" "$work/big/Store.pst" || fail "our zip"
    unzip_ok "$work/big.vlb"
    ziptool extract "$work/big.vlb" "$work/out" && [ "$(stat -c %s "$work/out/Store.pst")" -eq "$size" ] || fail "size"
    for off in $(((4 << 30) - 10)) $((size - 4096)); do
        cmp -s "$work/block.$off" <(tail -c +$((off + 1)) "$work/out/Store.pst" | head -c 4096) || fail "block at $off"
    done
else
    fail "unknown mode $1"
fi

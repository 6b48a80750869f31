#!/bin/bash
# Our archives against other zip programs, from the Linux side.
#   zip_interop.sh interop <build dir>   our archives pass unzip, 7z and Python's
#                                        zipfile; theirs are read and extracted by us
#   zip_interop.sh large <build dir>     a 4.5 GiB sparse file round trip (zip64);
#                                        skipped (77) unless VELMORA_LARGE_TESTS is
#                                        set and the disk has room
set -euo pipefail
mode="$1"
build="$(realpath "$2")"
root="$(cd "$(dirname "$0")/../.." && pwd)"
tool="$build/bin/ZipTool.exe"
work="$(mktemp -d "$build/zipinterop.XXXXXX")"
trap 'rm -rf "$work"' EXIT

winpath() { echo "Z:$(realpath -m "$1" | sed 's#/#\\#g')"; }
ziptool() { "$root/scripts/wine-run.sh" "$tool" "$@"; }
fail() { echo "FAIL: $*" >&2; exit 1; }

# Every file entry of an archive must hold exactly the bytes of the file of the
# same relative name below a folder, and the file set must match.
python_check() {  # archive folder
    python3 - "$1" "$2" <<'EOF'
import os, sys, zipfile
archive, folder = sys.argv[1], sys.argv[2]
parent = os.path.dirname(folder)   # entry names start with the folder's own name
with zipfile.ZipFile(archive) as z:
    bad = z.testzip()
    assert bad is None, f"testzip: {bad}"
    seen = set()
    for info in z.infolist():
        name = info.filename.replace("\\", "/")
        if name.endswith("/"):
            assert info.external_attr & 0x10, name
            assert os.path.isdir(os.path.join(parent, name)), name
            continue
        assert info.compress_type == zipfile.ZIP_DEFLATED, name
        with open(os.path.join(parent, name), "rb") as f:
            assert z.read(info) == f.read(), f"bytes differ: {name}"
        seen.add(name)
    files = set()
    for base, dirs, names in os.walk(folder):
        dirs[:] = [d for d in dirs if not d.startswith(".")]
        for n in names:
            if not n.startswith("."):
                files.add(os.path.relpath(os.path.join(base, n), parent))
    assert seen == files, (sorted(seen), sorted(files))
print("python zipfile: ok")
EOF
}

make_tree() {  # folder
    mkdir -p "$1/Sub/Deeper" "$1/Empty Folder" "$1/.hidden"
    printf 'plain text\r\nsecond line\r\n' > "$1/summary.txt"
    : > "$1/empty.dat"
    head -c 300000 /dev/urandom > "$1/Sub/random.bin"
    seq 1 200000 > "$1/Sub/Deeper/numbers with spaces.txt"
    head -c 70000 /dev/zero > "$1/Sub/zeros.bin"
    # Many deflate chunks of mixed content, and a file of exactly two chunks.
    { seq 1 150000; head -c 900000 /dev/urandom; head -c 400000 /dev/zero; seq 7 3 900000; } > "$1/Sub/mixed.dbx"
    head -c $((2 * 256 * 1024)) "$1/Sub/mixed.dbx" > "$1/Sub/two chunks.dbx"
    echo secret > "$1/.hidden/skip.txt"
    echo skip > "$1/.profile"
}

if [ "$mode" = interop ]; then
    src="$work/src"
    make_tree "$src/Outlook"
    (cd "$src" && touch -d '2021-06-15 10:20:30' Outlook/summary.txt)

    echo "== our archive"
    ziptool zip "$(winpath "$work/ours.vlb")" "$(winpath "$src/Outlook")"
    out="$(unzip -t "$work/ours.vlb" 2>&1)" || [ $? -eq 1 ] || fail "unzip -t: $out"
    echo "$out" | grep -q "No errors detected" || fail "unzip -t: $out"
    echo "unzip -t: ok"
    7z t "$work/ours.vlb" > "$work/7z.log" 2>&1 || { cat "$work/7z.log"; fail "7z t"; }
    grep -q "Everything is Ok" "$work/7z.log" || fail "7z t"
    echo "7z t: ok"
    python_check "$work/ours.vlb" "$src/Outlook"
    # Names are backslash paths from the root folder; no dot-names.
    names="$(python3 -c 'import sys,zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$work/ours.vlb")"
    echo "$names" | grep -qx 'Outlook\\Sub\\Deeper\\numbers with spaces.txt' || fail "entry names: $names"
    echo "$names" | grep -qx 'Outlook\\Empty Folder\\' || fail "folder entry: $names"
    echo "$names" | grep -q hidden && fail "dot-names added: $names"
    [ "$(echo "$names" | head -1)" = 'Outlook\' ] || fail "first entry: $names"
    # The DOS time is the local last-write time (Wine and this shell share TZ).
    python3 - "$work/ours.vlb" <<'EOF'
import sys, zipfile
info = zipfile.ZipFile(sys.argv[1]).getinfo("Outlook\\summary.txt")
assert info.date_time == (2021, 6, 15, 10, 20, 30), info.date_time
assert info.create_system == 0 and info.internal_attr == 0 and info.extra == b"" and info.comment == b"", info
assert info.external_attr & 0x20, hex(info.external_attr)
print("entry fields: ok")
EOF
    ziptool extract "$(winpath "$work/ours.vlb")" "$(winpath "$work/back")"
    diff -r --exclude='.*' "$src/Outlook" "$work/back/Outlook" || fail "round trip differs"
    echo "our round trip: ok"

    echo "== empty archive"
    ziptool zip "$(winpath "$work/empty.vlb")"
    python3 -c 'import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); assert z.namelist()==[] and z.testzip() is None' "$work/empty.vlb"
    7z t "$work/empty.vlb" > "$work/7z.log" 2>&1 || { cat "$work/7z.log"; fail "7z t empty"; }
    echo "empty archive: ok"

    echo "== Info-ZIP archive"
    (cd "$src" && zip -q -r -6 "$work/infozip.zip" Outlook -x 'Outlook/.*' 'Outlook/.hidden/*')
    listed="$(ziptool list "$(winpath "$work/infozip.zip")" | tr -d '\r')"
    echo "$listed" | grep -q '/' && fail "names with /: $listed"
    echo "$listed" | grep -q "^Outlook\\\\Sub\\\\random.bin	300000	" || fail "listing: $listed"
    echo "$listed" | grep -q "^Outlook\\\\Empty Folder\\\\	0	00000000	folder" || fail "listing: $listed"
    ziptool extract "$(winpath "$work/infozip.zip")" "$(winpath "$work/fromzip")"
    diff -r --exclude='.*' "$src/Outlook" "$work/fromzip/Outlook" || fail "Info-ZIP extraction differs"
    echo "Info-ZIP archive: ok"

    echo "== Python zipfile archive"
    python3 - "$src/Outlook" "$work/python.zip" <<'EOF'
import os, sys, zipfile
folder, archive = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(archive, "w") as z:
    for base, dirs, names in os.walk(folder):
        dirs[:] = [d for d in dirs if not d.startswith(".")]
        rel = os.path.relpath(base, os.path.dirname(folder))
        z.write(base, rel + "/")
        for i, n in enumerate(n for n in names if not n.startswith(".")):
            method = zipfile.ZIP_STORED if i % 2 else zipfile.ZIP_DEFLATED
            z.write(os.path.join(base, n), rel + "/" + n, compress_type=method)
EOF
    listed="$(ziptool list "$(winpath "$work/python.zip")" | tr -d '\r')"
    echo "$listed" | grep -q '/' && fail "names with /: $listed"
    echo "$listed" | grep -q "^Outlook\\\\Sub\\\\Deeper\\\\	0	00000000	folder" || fail "listing: $listed"
    ziptool extract "$(winpath "$work/python.zip")" "$(winpath "$work/frompython")"
    diff -r --exclude='.*' "$src/Outlook" "$work/frompython/Outlook" || fail "Python extraction differs"
    echo "Python zipfile archive: ok"
    exit 0
fi

if [ "$mode" = large ]; then
    [ -n "${VELMORA_LARGE_TESTS:-}" ] || { echo "skipped: set VELMORA_LARGE_TESTS=1"; exit 77; }
    avail_kb="$(df -Pk "$work" | awk 'NR==2 {print $4}')"
    [ "$avail_kb" -ge $((12 * 1024 * 1024)) ] || { echo "skipped: less than 12 GiB free"; exit 77; }
    size=$((4608 * 1024 * 1024))   # 4.5 GiB
    offsets=(0 $((1024 * 1024 * 1024 + 123)) $((4 * 1024 * 1024 * 1024 - 10)) $((size - 4096)))
    mkdir -p "$work/big"
    truncate -s "$size" "$work/big/Store.pst"
    for off in "${offsets[@]}"; do
        head -c 4096 /dev/urandom > "$work/block.$off"
        dd if="$work/block.$off" of="$work/big/Store.pst" bs=4096 oflag=seek_bytes seek="$off" conv=notrunc \
           status=none
    done
    [ "$(stat -c %s "$work/big/Store.pst")" -eq "$size" ] || fail "source size"
    start=$(date +%s)
    ziptool add "$(winpath "$work/big.vlb")" "$(winpath "$work/big/Store.pst")"
    zipped=$(date +%s)
    echo "zipped 4.5 GiB in $((zipped - start)) s; archive $(stat -c %s "$work/big.vlb") bytes"
    unzip -t "$work/big.vlb" | tee "$work/unzip.log"
    grep -q "No errors detected" "$work/unzip.log" || fail "unzip -t"
    python3 - "$work/big.vlb" "$size" <<'EOF'
import sys, zipfile
info = zipfile.ZipFile(sys.argv[1]).getinfo("Store.pst")
assert info.file_size == int(sys.argv[2]), info.file_size
assert info.extract_version >= 45, info.extract_version
print("python zipfile: zip64 entry of", info.file_size, "bytes")
EOF
    tested=$(date +%s)
    ziptool extract "$(winpath "$work/big.vlb")" "$(winpath "$work/out")"
    extracted=$(date +%s)
    echo "extracted in $((extracted - tested)) s"
    [ "$(stat -c %s "$work/out/Store.pst")" -eq "$size" ] || fail "extracted size"
    for off in "${offsets[@]}"; do
        cmp -s "$work/block.$off" <(tail -c +$((off + 1)) "$work/out/Store.pst" | head -c 4096) ||
            fail "block at $off differs"
    done
    echo "large file: size and blocks intact"
    exit 0
fi
fail "unknown mode $mode"

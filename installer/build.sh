#!/bin/bash
# Builds the setup program from a built home directory:
#   installer/build.sh <home dir> <setup.exe>
# The file lists are generated from what the home directory holds at this
# moment, so the setup ships everything the build put there and its
# uninstaller deletes exactly those files and nothing else.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
[ $# -eq 2 ] || { echo "usage: $0 <home dir> <setup.exe>" >&2; exit 2; }
home="$(cd "$1" && pwd)"
out="$(realpath -m "$2")"
[ -f "$home/Velmora.exe" ] || { echo "installer: $home holds no Velmora.exe (build first)" >&2; exit 1; }
command -v makensis >/dev/null || { echo "installer: makensis missing (scripts/setup.sh installs nsis)" >&2; exit 1; }

gen="$(mktemp -d)"
trap 'rm -rf "$gen"' EXIT
"$here/filelist.sh" "$home" "$gen"

mkdir -p "$(dirname "$out")"
makensis -V2 -INPUTCHARSET UTF8 -NOCD \
  "-DVELMORA_GEN_DIR=$gen" "-DVELMORA_OUTFILE=$out" \
  "-DVELMORA_ESTIMATED_SIZE=$(cat "$gen/estimated-size")" \
  $(objdump -f "$home/Velmora.exe" | grep -q x86-64 && echo -DVELMORA_AMD64) \
  "$here/Velmora.nsi"
echo "installer: $out ($(stat -c %s "$out") bytes, $(wc -l < "$gen/files.txt") files)"

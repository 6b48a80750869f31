#!/bin/bash
# Writes the NSIS file lists of a home directory into <out dir>:
#   install.nsh    SetOutPath/File for every folder and file (sorted)
#   uninstall.nsh  Delete for every file, then RMDir for every folder, deepest
#                  first: plain RMDir leaves a folder that still holds anything
#                  the user put there
#   files.txt      the installed files, relative, backslash-separated
#   estimated-size the installed size in KB for the uninstall entry
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 <home dir> <out dir>" >&2; exit 2; }
home="$1"
out="$2"

# Names go into quoted NSIS strings and onto a Windows file system.
nsis_name() {
  local rel="$1"
  if [[ "$rel" == *[\"\<\>\|\?\*:\\]* || "$rel" == *$'\n'* ]]; then
    echo "installer: unusable file name in the home directory: $rel" >&2
    return 1
  fi
  rel="${rel//\$/\$\$}"
  printf '%s' "${rel//\//\\}"
}

cd "$home"
: > "$out/install.nsh"
: > "$out/uninstall.nsh"
: > "$out/files.txt"
kb=0
mapfile -t dirs < <(find . -mindepth 1 -type d -printf '%P\n' | LC_ALL=C sort)
for dir in "" "${dirs[@]}"; do
  if [ -n "$dir" ]; then
    win="$(nsis_name "$dir")"
    printf 'SetOutPath "$INSTDIR\\%s"\n' "$win" >> "$out/install.nsh"
  else
    printf 'SetOutPath "$INSTDIR"\n' >> "$out/install.nsh"
  fi
  mapfile -t files < <(find "./$dir" -mindepth 1 -maxdepth 1 ! -type d -printf '%P\n' | LC_ALL=C sort)
  for f in "${files[@]}"; do
    rel="${dir:+$dir/}$f"
    [ -f "$rel" ] || { echo "installer: not a regular file: $rel" >&2; exit 1; }
    win="$(nsis_name "$rel")"
    printf 'File "%s"\n' "$(realpath "$rel" | sed 's/\$/$$/g')" >> "$out/install.nsh"
    printf 'Delete "$INSTDIR\\%s"\n' "$win" >> "$out/uninstall.nsh"
    printf '%s\n' "${rel//\//\\}" >> "$out/files.txt"
    kb=$(( kb + ($(stat -c %s "$rel") + 1023) / 1024 ))
  done
done
for ((i=${#dirs[@]}-1; i>=0; i--)); do
  printf 'RMDir "$INSTDIR\\%s"\n' "$(nsis_name "${dirs[i]}")" >> "$out/uninstall.nsh"
done
echo "$kb" > "$out/estimated-size"

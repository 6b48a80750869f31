#!/bin/bash
# The demo, run inside the Wine test bench by `make demo`: installs the built
# home directory into the prefix and checks that the host loads the plug-ins.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VELMORA_BUILD:-$root/build}"
run() { "$root/scripts/wine-run.sh" "$@"; }

drive_c="$WINEPREFIX/drive_c"
home="$drive_c/Program Files/Velmora"
echo "== Installing the home directory into C:\\Program Files\\Velmora"
rm -rf "$home" && mkdir -p "$home"
cp -r "$build/home/." "$home/"
run reg add 'HKLM\Software\Orridge\Velmora' /v "Velmora Home" /d 'C:\Program Files\Velmora' /f >/dev/null
"$root/scripts/demo-oe.sh" "$build" || { echo "DEMO FAILED"; exit 1; }
echo "== Loading the engine plug-ins through the host"
if run "$build/bin/PlugInCheck.exe"; then
  echo "DEMO SUCCEEDED"
else
  echo "DEMO FAILED"
  exit 1
fi

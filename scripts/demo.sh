#!/bin/bash
# The demo, run inside the Wine test bench by `make demo`: installs Velmora
# with its setup program, silently, the way a user would, and checks that the
# host loads the plug-ins from the installed copy.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VELMORA_BUILD:-$root/build}"
run() { "$root/scripts/wine-run.sh" "$@"; }

setup="$build/VelmoraSetup-1.5.exe"
[ -f "$setup" ] || { echo "DEMO FAILED: $setup missing (make installer)"; exit 1; }
# Wine would mirror the Start-menu shortcut into the Linux desktop's menus.
run reg add 'HKCU\Software\Wine\DllOverrides' /v winemenubuilder.exe /d '' /f >/dev/null 2>&1
echo "== Installing Velmora: VelmoraSetup-1.5.exe /S (into C:\\Program Files\\Velmora)"
if ! run "$setup" /S; then
  echo "DEMO FAILED: the setup program reported an error"
  exit 1
fi
home="$(run reg query 'HKLM\Software\Orridge\Velmora' /v "Velmora Home" 2>/dev/null \
        | tr -d '\r' | sed -n 's/.*REG_SZ[[:space:]]*//p')"
echo "   Velmora Home = ${home:-(not set)}"
echo "   Installed: $(cd "$WINEPREFIX/drive_c/Program Files/Velmora" && find . -type f -printf '%P\n' | LC_ALL=C sort | tr '\n' ' ')"
"$root/scripts/demo-roundtrip.sh" oe "$build" || { echo "DEMO FAILED"; exit 1; }
"$root/scripts/demo-roundtrip.sh" ot "$build" || { echo "DEMO FAILED"; exit 1; }
echo "== Loading the engine plug-ins through the host"
if run "$build/bin/PlugInCheck.exe"; then
  echo "DEMO SUCCEEDED"
else
  echo "DEMO FAILED"
  exit 1
fi

#!/bin/bash
# The demo, run inside the Wine test bench by `make demo`: installs Velmora
# with its setup program, silently, the way a user would, runs a backup and a
# restore of both mail clients on a synthetic installation, checks that the
# host loads the plug-ins from the installed copy, then starts the real
# program on the synthetic installation. With a display of the user's own
# (VELMORA_USE_DISPLAY) it simply opens; under the bench's virtual display
# scripts/demo-ui.sh drives a backup and a restore through its pages and
# photographs them.
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
program="${home:-C:\\Program Files\\Velmora}\\Velmora.exe"
echo "== Loading the engine plug-ins through the host"
if ! run "$build/bin/PlugInCheck.exe"; then
  echo "DEMO FAILED"
  exit 1
fi

# The console program, as a scheduled task would run it: no window to answer.
console="${home:-C:\\Program Files\\Velmora}\\VelmoraCmd.exe"
echo "== An unattended backup and its verification: VelmoraCmd backup C:\\VelmoraDemo\\Nightly, then verify"
rm -rf "$WINEPREFIX/drive_c/VelmoraDemo/Nightly" && mkdir -p "$WINEPREFIX/drive_c/VelmoraDemo/Nightly"
run "$build/bin/MailFixtureTool.exe" setup >/dev/null || { echo "DEMO FAILED: the synthetic installation could not be set up"; exit 1; }
if ! run "$console" backup 'C:\VelmoraDemo\Nightly' || ! run "$console" verify 'C:\VelmoraDemo\Nightly\Outlook Express.vlb' ||
   ! run "$console" verify 'C:\VelmoraDemo\Nightly\Outlook.vlb'; then
  run "$build/bin/MailFixtureTool.exe" remove >/dev/null
  echo "DEMO FAILED: the unattended backup or its verification failed"
  exit 1
fi
run "$build/bin/MailFixtureTool.exe" remove >/dev/null

if [ -n "${VELMORA_USE_DISPLAY:-}" ]; then
  echo "== Starting Velmora on $DISPLAY with the synthetic mail installation (close it to end the demo)"
  run "$build/bin/MailFixtureTool.exe" setup >/dev/null || { echo "DEMO FAILED: the synthetic installation could not be set up"; exit 1; }
  run "$program"
  run "$build/bin/MailFixtureTool.exe" remove >/dev/null
  echo "DEMO SUCCEEDED"
  exit 0
fi

"$root/scripts/demo-ui.sh" "$program" "$build" || exit 1
echo "DEMO SUCCEEDED"

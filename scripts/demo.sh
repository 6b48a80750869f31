#!/bin/bash
# The demo, run inside the Wine test bench by `make demo`: installs Velmora
# with its setup program, silently, the way a user would, runs a backup and a
# restore of both mail clients on a synthetic installation, checks that the
# host loads the plug-ins from the installed copy, then starts the real
# program. With a display of the user's own (VELMORA_USE_DISPLAY) it simply
# opens; under the bench's virtual display it is photographed.
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

if [ -n "${VELMORA_USE_DISPLAY:-}" ]; then
  echo "== Starting Velmora on $DISPLAY (close it to end the demo)"
  run "$program"
  echo "DEMO SUCCEEDED"
  exit 0
fi

shots="$build/demo-shots"
rm -rf "$shots" && mkdir -p "$shots"
shot() { import -window root "$shots/$1.png"; echo "   saved $shots/$1.png: $2"; }

# Wine names every top-level window of the program after its executable.
program_windows() { xdotool search --onlyvisible --class 'velmora.exe' 2>/dev/null || true; }
main_window() { xdotool search --onlyvisible --name '^Velmora$' 2>/dev/null | head -1 || true; }
wait_for() {   # wait_for <seconds> <command...>: until the command prints something
  local limit=$(( $1 * 10 )); shift
  for _ in $(seq "$limit"); do
    out="$("$@")"; [ -n "$out" ] && { echo "$out"; return 0; }
    sleep 0.1
  done
  return 1
}

photograph() {   # photograph <language suffix> <description>
  local lang="$1" pid wid
  run "$program" &
  pid=$!
  if ! wait_for 20 program_windows >/dev/null; then
    echo "DEMO FAILED: no window of Velmora.exe appeared"; kill "$pid" 2>/dev/null; return 1
  fi
  sleep 0.3
  shot "splash$lang" "the splash screen ($2)"
  if ! wid="$(wait_for 30 main_window)"; then
    echo "DEMO FAILED: the main window did not open"; kill "$pid" 2>/dev/null; return 1
  fi
  sleep 1
  shot "backup-page$lang" "the main window with the Backup page ($2)"
  # The Restore tab sits right of the Backup tab at the top of the tab control.
  local tab
  if tab="$(run "$build/bin/WindowProbe.exe" Velmora 1003 | tr -d '\r')" && [ -n "$tab" ]; then
    local left top rest
    read -r left top rest <<<"$tab"
    xdotool mousemove $(( left + 80 )) $(( top + 10 )) click 1
  else
    echo "   (the tab control was not found)"
  fi
  sleep 1
  shot "restore-page$lang" "the main window with the Restore page ($2)"
  xdotool key --window "$wid" Escape || true
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

echo "== Starting Velmora on the virtual display $DISPLAY"
# No window manager runs here: Wine draws the captions and frames itself.
run reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null
run reg delete 'HKCU\Software\Orridge\Velmora' /v "UI Language" /f >/dev/null 2>&1 || true
photograph "" "English"
run reg add 'HKCU\Software\Orridge\Velmora' /v "UI Language" /d KOR /f >/dev/null
LC_ALL=ko_KR.UTF-8 photograph "-kor" "Korean, \"UI Language\" = KOR"
run reg delete 'HKCU\Software\Orridge\Velmora' /v "UI Language" /f >/dev/null 2>&1 || true
run reg delete 'HKCU\Software\Wine\X11 Driver' /v Decorated /f >/dev/null 2>&1 || true
echo "== Screenshots are in $shots"
echo "DEMO SUCCEEDED"

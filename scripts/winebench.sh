#!/bin/bash
# Runs a command inside the Wine test bench: the private prefix (set to
# Windows XP), one persistent wineserver, one idle Windows process that keeps
# Wine's desktop alive, and an Xvfb display. Everything is torn down on exit.
#   scripts/winebench.sh <command...>
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$root/build/wineprefix}"
source "$root/scripts/wine-env.sh"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

xvfb_pid=""
keepalive_pid=""
teardown() {
  [ -n "$keepalive_pid" ] && kill "$keepalive_pid" 2>/dev/null
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
}
trap teardown EXIT

if [ -z "${VELMORA_USE_DISPLAY:-}" ]; then
  # Xvfb picks a free display itself and reports its number.
  displayfile="$(mktemp)"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$displayfile" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$displayfile" ] && break; sleep 0.1; done
  disp="$(head -1 "$displayfile")"
  rm -f "$displayfile"
  [ -n "$disp" ] || { echo "winebench: Xvfb did not start" >&2; exit 1; }
  export DISPLAY=":$disp"
fi

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "winebench: creating Wine prefix $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi
# One server for the whole run, made persistent before the first program: a
# server that ends on its own just as the next program starts can lose what
# the last one wrote to the registry. A server of an earlier run may still be
# on its way out (one kept by another bench on this prefix is shared).
timeout 20 wineserver -w 2>/dev/null
wineserver -p 2>/dev/null
wine reg add 'HKCU\Software\Wine' /v Version /d winxp /f >/dev/null 2>&1
# Unmanaged windows: without a window manager, hiding a managed window waits
# 2 s for a state change that never comes.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
# Korean text in captions and message boxes: those are drawn in "Tahoma",
# which has no Hangul; Wine links it (and "MS Shell Dlg") to the Korean
# system fonts "Gulim" and "Malgun Gothic" for the glyphs it lacks. Let the
# installed Korean font stand in for them.
hangul="$(fc-match -f '%{family[0]}' 'NanumGothic:lang=ko' 2>/dev/null)"
if [ "$hangul" = NanumGothic ]; then
  for face in Gulim "Malgun Gothic"; do
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d "$hangul" /f >/dev/null 2>&1
  done
else
  echo "winebench: no Korean font (fonts-nanum) found; Korean captions and message boxes will show empty boxes" >&2
fi
keepalive="${VELMORA_KEEPALIVE:-$root/build/bin/WineKeepAlive.exe}"
if [ -f "$keepalive" ]; then
  wine "$keepalive" >/dev/null 2>&1 &
  keepalive_pid=$!
fi

"$@"

#!/bin/bash
# Runs a command inside the Wine test bench: the private 32-bit prefix (set to
# Windows XP), one persistent wineserver, one idle Windows process that keeps
# Wine's desktop alive, and an Xvfb display. Everything is torn down on exit.
#   scripts/winebench.sh <command...>
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$root/build/wineprefix}"
export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

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
wine reg add 'HKCU\Software\Wine' /v Version /d winxp /f >/dev/null 2>&1
# Unmanaged windows: without a window manager, hiding a managed window waits
# 2 s for a state change that never comes.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
# Korean text in captions and message boxes: those are drawn in the system's
# "Tahoma" (and dialogs in "MS Shell Dlg"), which have no Hangul; link them to
# the installed Korean font, which then supplies the glyphs they lack.
hangul="$(fc-match -f '%{file}' 'NanumGothic:lang=ko' 2>/dev/null)"
if [ -n "$hangul" ] && [[ "$(basename "$hangul")" == NanumGothic* ]]; then
  links="$WINEPREFIX/drive_c/velmora-fontlink.reg"
  python3 - "$(basename "$hangul"),NanumGothic" >"$links" <<'PY'
import sys
value = ','.join('%02x' % b for b in (sys.argv[1] + '\0\0').encode('utf-16-le'))
print('Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink]')
for face in ('Tahoma', 'MS Shell Dlg', 'MS Shell Dlg 2'):
    print('"%s"=hex(7):%s' % (face, value))
PY
  wine reg import 'C:\velmora-fontlink.reg' >/dev/null 2>&1
  rm -f "$links"
else
  echo "winebench: no Korean font (fonts-nanum) found; Korean captions and message boxes will show empty boxes" >&2
fi
wineserver -p
keepalive="${VELMORA_KEEPALIVE:-$root/build/bin/WineKeepAlive.exe}"
if [ -f "$keepalive" ]; then
  wine "$keepalive" >/dev/null 2>&1 &
  keepalive_pid=$!
fi

"$@"

#!/bin/bash
# Captures the setup's first page, in English and in Korean, under the Wine
# bench's display (run inside scripts/winebench.sh):
#   installer/screenshot.sh <build dir>   ->  <build dir>/VelmoraSetup-page1-{en,ko}.png
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:?usage: $0 <build dir>}" && pwd)"
shot() {
  local out="$1"; shift
  env "$@" "$root/scripts/wine-run.sh" "$build/VelmoraSetup-1.5.exe" &
  local pid=$!
  for _ in $(seq 60); do xdotool search --name Velmora >/dev/null 2>&1 && break; sleep 0.5; done
  sleep 2
  import -window root "$out" && echo "screenshot: $out"
  kill "$pid"; wait "$pid" 2>/dev/null
}
shot "$build/VelmoraSetup-page1-en.png" LC_ALL=C.UTF-8
shot "$build/VelmoraSetup-page1-ko.png" LC_ALL=ko_KR.UTF-8

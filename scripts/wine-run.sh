#!/bin/bash
# Runs one Windows program in the project's private Wine prefix.
# Used by ctest (as the cross-compiling emulator), the demo and the benchmark.
root="$(cd "$(dirname "$0")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$root/build/wineprefix}"
source "$root/scripts/wine-env.sh"
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml="
exec wine "$@"

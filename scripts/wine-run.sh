#!/bin/bash
# Runs one Windows program in the project's private Wine prefix.
# Used by ctest (as the cross-compiling emulator), the demo and the benchmark.
root="$(cd "$(dirname "$0")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$root/build/wineprefix}"
export WINEARCH=win32 WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml="
exec wine "$@"

#!/bin/bash
# Points HKLM "Velmora Home" of the current Wine prefix at the build's home
# directory, where the programs find their plug-ins.
#   scripts/set-home.sh <build folder>
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:?build folder}"
"$root/scripts/wine-run.sh" reg add 'HKLM\Software\Orridge\Velmora' /v "Velmora Home" \
  /d "Z:$(echo "$build/home" | tr / '\\')" /f >/dev/null && exit 0
echo "the home folder could not be set in the registry"
exit 1

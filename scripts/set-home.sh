#!/bin/bash
# Points HKLM "Velmora Home" of the current Wine prefix at the build's home
# directory, where the programs find their plug-ins, and reads it back.
#   scripts/set-home.sh <build folder>
# Wine's reg has been seen to fail now and then right at the start of a test
# script, saying nothing on stderr; it is tried three times, and what it said
# is shown.
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:?build folder}"
home="Z:$(echo "$build/home" | tr / '\\')"
key='HKLM\Software\Orridge\Velmora'
for attempt in 1 2 3; do
  said="$("$root/scripts/wine-run.sh" reg add "$key" /v "Velmora Home" /d "$home" /f 2>&1)"
  rc=$?
  if [ "$rc" = 0 ] && "$root/scripts/wine-run.sh" reg query "$key" /v "Velmora Home" 2>/dev/null | grep -qF "$home"; then
    [ "$attempt" = 1 ] || echo "set-home: the home folder was set at attempt $attempt" >&2
    exit 0
  fi
  echo "set-home: attempt $attempt: reg add exit code $rc, it said: $said" >&2
  sleep 1
done
echo "the home folder could not be set in the registry"
exit 1

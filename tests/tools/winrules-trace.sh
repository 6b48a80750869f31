#!/bin/bash
# One real backup and one real restore per plug-in through the exports (the
# demo's round trips on the synthetic installation) under Wine's file trace,
# then the Windows-rules checker on each of the four traces. Fails when a round
# trip fails or when a trace shows a call that Windows would refuse.
#   tests/tools/winrules-trace.sh <build folder>
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build}"
traces="$build/traces"
rm -rf "$traces" && mkdir -p "$traces"
for client in oe ot; do
  VELMORA_DEMO_BUILD_HOME=1 VELMORA_TRACE_DIR="$traces" "$root/scripts/demo-roundtrip.sh" "$client" "$build" \
    >"$traces/$client-roundtrip.log" 2>&1 || { cat "$traces/$client-roundtrip.log"; echo "WINRULES: the $client round trip failed"; exit 1; }
done
python3 "$root/tests/tools/winrules.py" "$traces"/{oe,ot}-{backup,restore}.trace

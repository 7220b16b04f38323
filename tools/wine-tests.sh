#!/bin/bash
# Runs the Wine tests of one Windows build, already built by the host:
#   tools/wine-tests.sh win32|win64
# in a throwaway prefix on a virtual display (tools/wine-env.sh). Called by
# tools/test.sh on this machine, or inside the guest (tools/guest/run.sh)
# where this machine cannot run 32-bit code. The whole ctest output goes to
# build/logs/wine-<preset>.log; the timing lines and the verdicts come here.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
preset=${1:?usage: tools/wine-tests.sh win32|win64}
log=build/logs/wine-$preset.log
mkdir -p build/logs

FQ_WINE_ARCH=$preset
source tools/wine-env.sh || exit 1
echo "Wine $("$FQ_WINE" --version) ($preset) on $(uname -n), $(uname -m)"
ctest --preset "$preset" -V >"$log" 2>&1
status=$?
grep -E '^[0-9]+: \[ (timing|  FAILED) ' "$log" | sed 's/^[0-9]*: //'
grep -E '^ *[0-9]+/[0-9]+ Test +#' "$log"
[ "$status" -eq 0 ] || tail -n 80 "$log"
exit "$status"

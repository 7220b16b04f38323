#!/bin/bash
# Runs the Wine tests of one Windows build, already built by the host:
#   tools/wine-tests.sh win32|win64 [win32|win64]
# in a throwaway prefix on a virtual display (tools/wine-env.sh). The second
# word is the prefix's architecture, by default the build's: the win32 build
# in a win64 prefix runs as 64-bit Windows runs it, under WoW64 (its
# System32 redirected to SysWOW64, the service manager and registry the
# 64-bit system's). Called by tools/test.sh on this machine, or inside the guest
# (tools/guest/run.sh) where this machine cannot run 32-bit code. Every test
# of the build but those labelled "release" (tests/release, which run on the
# build machine).
#
# What the run leaves, in build/logs/<build>-<prefix>/: ctest.log, ctest's
# whole output; ctest.xml, its JUnit report; reports/, the test programs'
# GoogleTest reports; tools/test-report.py reads the two. The timing lines
# and the verdicts come here.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
preset=${1:?usage: tools/wine-tests.sh win32|win64 [win32|win64]}
prefix=${2:-$preset}
run=build/logs/$preset-$prefix
reports=build/$preset/tests/wine/reports
rm -rf "$run" "$reports"
mkdir -p "$run"

FQ_WINE_ARCH=$prefix
source tools/wine-env.sh || exit 1
if [ "$preset-$prefix" = win32-win64 ] && [ ! -d "$WINEPREFIX/drive_c/windows/syswow64" ]; then
  echo "the $prefix prefix has no SysWOW64: it cannot run the 32-bit build as 64-bit Windows does"
  exit 1
fi
echo "Wine $("$FQ_WINE" --version): the $preset build in a $prefix prefix, on $(uname -n), $(uname -m)"
ctest --preset "$preset" --label-exclude release --output-junit "$PWD/$run/ctest.xml" -V \
  >"$run/ctest.log" 2>&1
status=$?
[ ! -d "$reports" ] || mv "$reports" "$run/reports"
grep -E '^[0-9]+: \[ (timing|  FAILED) ' "$run/ctest.log" | sed 's/^[0-9]*: //'
grep -E '^ *[0-9]+/[0-9]+ Test +#' "$run/ctest.log"
[ "$status" -eq 0 ] || tail -n 80 "$run/ctest.log"
exit "$status"

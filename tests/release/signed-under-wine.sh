#!/bin/bash
# The signed file runs as the unsigned one does: with no FQ registered it
# exits 0 at once and shows nothing (the scenario test of that case, then the
# trace of its calls, on the signed file). Under Wine here where this kernel
# runs 32-bit code, else in the guest (tools/guest/run.sh), which shares the
# checkout: the signed file must lie in it.
#   tests/release/signed-under-wine.sh SIGNED.exe wine_scenario_tests.exe FQFixtureService.exe
set -uo pipefail
[ $# -eq 3 ] || { echo "usage: $0 SIGNED.exe wine_scenario_tests.exe FQFixtureService.exe"; exit 2; }
signed=$(realpath "$1") && tests=$(realpath "$2") && fixture=$(realpath "$3") || exit 1
cd "$(dirname "$0")/../.." || exit 1
# The scenario's report, beside the signed file's folder, where the guest
# can write it too.
report=$(realpath --relative-to=. "$(dirname "$(dirname "$signed")")")/signed-scenario.xml
rm -f "$report"
# shellcheck disable=SC2016 # expanded by the inner shell
run=(bash -c 'tools/wine-run.sh "$1" --gtest_filter=ProgramOnWine.NoServiceEndsAtOnceShowingNothing \
  --gtest_output=xml:"$4" --program="$2" --fixture="$3" && tests/wine/no-service-trace.sh "$2"' -
  "$tests" "$signed" "$fixture" "$report")
if tools/runs-i386.sh; then
  "${run[@]}"
else
  tools/guest/run.sh --timeout 900 -- "${run[@]}"
fi || exit 1
# The filter found its test: the report holds one, which passed.
if ! grep -q '<testsuites tests="1" failures="0" disabled="0" errors="0"' "$report"; then
  cat "$report"
  echo "FAILED: the scenario's report does not hold its one test, passed"
  exit 1
fi

#!/bin/bash
# A run of FQSrvUninstall.exe that finds FQ leaves exactly one entry in the
# event log, and a run that does not find it, none. Wine keeps no event log: it
# writes each entry's string to the debug output of the process, an error
# entry as err:eventlog (on by default), the others as trace:eventlog
# (+eventlog). The scenarios of wine_scenario_tests.exe run the program (and
# answer its box), which writes to the same output; each runs alone here:
#   a deletion that fails (FQ a registry key only): one error entry naming
#     FQ, OpenService and 1060, and no other;
#   a running FQ removed: one information entry, with NET's exit code, and no
#     error entry;
#   no FQ: nothing of the event log at all.
#   tests/wine/event-log-trace.sh wine_scenario_tests.exe --program=<exe> --fixture=<exe>
# In tools/wine-env.sh's prefix when run inside it (ctest under
# tools/wine-tests.sh), else in a throwaway prefix of its own.
set -uo pipefail
tests=${1:?usage: tests/wine/event-log-trace.sh wine_scenario_tests.exe --program=<exe> --fixture=<exe>}
shift
args=("$@")
own_prefix=
if [ -z "${FQ_WINE_READY:-}" ]; then
  source "$(dirname "$0")/../../tools/wine-env.sh" || exit 1
  own_prefix=yes
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/fq-events.XXXXXX") || exit 1
# In place of wine-env.sh's own hook, which this one replaces.
finish() {
  [ -z "$own_prefix" ] || fq_wine_cleanup
  rm -rf "$work"
}
trap finish EXIT

failed=0
fail() {
  echo "FAILED: $*"
  failed=1
}

# scenario <name> <WINEDEBUG> <test>: runs that one test; its debug output's
# entries, one a line, go to $work/<name>.error and $work/<name>.information,
# every line of the event log's channel to $work/<name>.all.
scenario() {
  local name=$1
  WINEDEBUG=$2 "$FQ_WINE" "$tests" "${args[@]}" "--gtest_filter=ProgramOnWine.$3" >"$work/$name.out" \
    2>"$work/$name.log" </dev/null
  local status=$?
  tr -d '\r' <"$work/$name.log" | grep -a ':eventlog:' >"$work/$name.all"
  grep -a ':err:eventlog:ReportEventW ' "$work/$name.all" >"$work/$name.error"
  grep -a ':trace:eventlog:ReportEventW ' "$work/$name.all" >"$work/$name.information"
  echo "$name ($3): $(grep -c . "$work/$name.error") error, $(grep -c . "$work/$name.information") information entries"
  sed 's/^/  /' "$work/$name.all"
  if [ "$status" -ne 0 ] || ! grep -q '^\[  PASSED  \] 1 test' "$work/$name.out"; then
    tail -n 30 "$work/$name.out"
    fail "$name: the scenario itself failed (exit status $status)"
  fi
}
# count <file> <expected> <what>
count() {
  local n
  n=$(grep -c . "$1")
  [ "$n" -eq "$2" ] || fail "$3: $n, not $2"
}

# The error entry with Wine's default channels: err is on for every one.
scenario failing -all,err+eventlog RegistryOnlyServiceGetsOneErrorBoxWhileTheWindowIsUp
count "$work/failing.error" 1 "failing: error entries"
grep -qE 'ReportEventW L"FQSrvUninstall [0-9.]+ could not remove the service FQ: OpenService failed with error 1060[ .]' \
  "$work/failing.error" || fail "failing: the entry does not name FQ, OpenService and 1060"
grep -q 'Exit code 1\.' "$work/failing.error" || fail "failing: the entry does not give exit code 1"

scenario removal -all,+eventlog RunningServiceIsStoppedThenRemoved
count "$work/removal.error" 0 "removal: error entries"
count "$work/removal.information" 1 "removal: information entries"
grep -qE 'ReportEventW L"FQSrvUninstall [0-9.]+ removed the service FQ: the service manager accepted its deletion\. The stop command ended with exit code 0\. Exit code 0\."' \
  "$work/removal.information" || fail "removal: not the entry of a service stopped by NET, then deleted"

scenario none -all,+eventlog NoServiceEndsAtOnceShowingNothing
count "$work/none.all" 0 "no FQ: lines of the event log"

[ "$failed" -eq 0 ] && echo "PASSED: one error entry for a failed deletion, one information entry for a removal, none without FQ"
exit "$failed"

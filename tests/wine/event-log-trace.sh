#!/bin/bash
# A run of FQSrvUninstall.exe that finds FQ leaves exactly one entry in the
# event log, and a run that does not find it, none. Wine keeps no event log: it
# writes each entry's string to the debug output of the process, an error
# entry as err:eventlog (on by default), a warning as warn:eventlog, the others
# as trace:eventlog (+eventlog), cut after some 290 characters; its
# fixme:advapi:ReportEventA line shows the call's arguments, the user's SID
# the fifth. The scenarios of wine_scenario_tests.exe run the program (and
# answer its box), which writes to the same output; each runs alone here:
#   a deletion that fails (FQ a registry key only): one error entry naming
#     FQ, OpenService, 1060 and the key, and no other;
#   a running FQ removed: one information entry, with NET's exit code, and no
#     error or warning entry;
#   a running FQ that ignores the stop, not marked before: one warning entry
#     saying that FQ is marked for deletion and still running, and no other;
#   each of the three with the user's SID set;
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
# entries, one a line, go to $work/<name>.error, .warning and .information,
# every line of the event log's channel to $work/<name>.all, the arguments of
# each ReportEventA call to $work/<name>.args.
scenario() {
  local name=$1
  WINEDEBUG=$2 "$FQ_WINE" "$tests" "${args[@]}" "--gtest_filter=ProgramOnWine.$3" >"$work/$name.out" \
    2>"$work/$name.log" </dev/null
  local status=$?
  tr -d '\r' <"$work/$name.log" | grep -a -e ':eventlog:' -e ':advapi:ReportEventA ' >"$work/$name.all"
  grep -a ':err:eventlog:ReportEventW ' "$work/$name.all" >"$work/$name.error"
  grep -a ':warn:eventlog:ReportEventW ' "$work/$name.all" >"$work/$name.warning"
  grep -a ':trace:eventlog:ReportEventW ' "$work/$name.all" >"$work/$name.information"
  sed -n 's/.*:advapi:ReportEventA (\([^)]*\)).*/\1/p' "$work/$name.all" >"$work/$name.args"
  echo "$name ($3): $(grep -c . "$work/$name.error") error, $(grep -c . "$work/$name.warning") warning, $(grep -c . "$work/$name.information") information entries"
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
# user_set <name>: the one ReportEventA call had a SID, its fifth argument.
user_set() {
  count "$work/$1.args" 1 "$1: ReportEventA calls"
  cut -d, -f5 "$work/$1.args" | grep -qv '^0*$' || fail "$1: ReportEventA had no user's SID"
}
entry='ReportEventW L"FQSrvUninstall [0-9.]+'

# The error entry with Wine's default channels: err is on for every one.
scenario failing -all,err+eventlog,fixme+advapi RegistryOnlyServiceGetsOneErrorBoxWhileTheWindowIsUp
count "$work/failing.error" 1 "failing: error entries"
grep -qE "$entry could not remove the service FQ: OpenService failed with error 1060[ .]" \
  "$work/failing.error" || fail "failing: the entry does not name FQ, OpenService and 1060"
grep -qF 'The key HKLM\\SYSTEM\\CurrentControlSet\\Services\\FQ holds an ImagePath' \
  "$work/failing.error" || fail "failing: the entry does not name the key"
user_set failing

scenario removal -all,+eventlog,fixme+advapi RunningServiceIsStoppedThenRemoved
count "$work/removal.error" 0 "removal: error entries"
count "$work/removal.warning" 0 "removal: warning entries"
count "$work/removal.information" 1 "removal: information entries"
grep -qE "$entry removed the service FQ: the service manager accepted its deletion\. The stop command ended with exit code 0\. Exit code 0\.\"" \
  "$work/removal.information" || fail "removal: not the entry of a service stopped by NET, then deleted"
user_set removal

scenario marked -all,+eventlog,fixme+advapi ServiceIgnoringTheStopDoesNotHoldTheProgramAndRunsOnMarked
count "$work/marked.error" 0 "marked: error entries"
count "$work/marked.information" 0 "marked: information entries"
count "$work/marked.warning" 1 "marked: warning entries"
grep -qE "$entry marked the service FQ for deletion, but FQ is still running: it goes once it has stopped" \
  "$work/marked.warning" || fail "marked: the entry does not say that FQ is marked and still running"
user_set marked

scenario none -all,+eventlog,fixme+advapi NoServiceEndsAtOnceShowingNothing
count "$work/none.all" 0 "no FQ: lines of the event log"

[ "$failed" -eq 0 ] && echo "PASSED: one error entry for a failed deletion, one information entry for a removal, one warning for FQ marked and running on, each with the user's SID; none without FQ"
exit "$failed"

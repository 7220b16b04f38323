#!/bin/bash
# A run of FQSrvUninstall.exe that finds FQ leaves exactly one entry in the
# event log, and a run that does not find it, none. Wine keeps no event log: it
# writes each of an entry's strings to the debug output of the process, one a
# line, an error entry's as err:eventlog (on by default), a warning's as
# warn:eventlog, the others' as trace:eventlog (+eventlog), each cut after
# some 290 characters; its fixme:advapi:ReportEventA line shows the call's
# arguments, the user's SID the fifth, the number of strings the sixth. Each
# entry is its text and nine fields, in their order: outcome, the call that
# failed, its error, FQ's state, the stop command's exit code, what NET said,
# the box, elevation, the exit code. The scenarios of wine_scenario_tests.exe
# run the program (and answer its box), which writes to the same output;
# each runs alone here:
#   a deletion that fails (FQ a registry key only): one error entry naming
#     FQ, OpenService, 1060 and the key;
#   a running FQ removed: one information entry with NET's exit code and
#     what NET said, in the text and in its field;
#   a running FQ that ignores the stop, not marked before: one warning entry
#     saying that FQ is marked for deletion and still running, with what NET
#     said;
#   a running FQ whose NET asks (as Windows' does when a dependent runs) and
#     fails: the warning, with NET's question and its refusal;
#   a stopped FQ that another process holds open: one warning entry saying
#     so;
#   each with the user's SID set, and no other entry;
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
  local name=$1 test=$3
  [[ $test == *.* ]] || test=ProgramOnWine.$test
  WINEDEBUG=$2 "$FQ_WINE" "$tests" "${args[@]}" "--gtest_filter=$test" >"$work/$name.out" \
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
# one_entry <name> <kind>: the scenario wrote one entry, of that kind
# (error, warning, information) and no other (its fields: expect_fields); the
# one ReportEventA call had its text, its nine fields and a SID, its fifth
# argument.
one_entry() {
  local kind
  for kind in error warning information; do
    [ "$kind" = "$2" ] || count "$work/$1.$kind" 0 "$1: $kind lines"
  done
  grep -qE "^[^:]*:[a-z]+:eventlog:$entry" <(head -n 1 "$work/$1.$2") || fail "$1: no text of ours first"
  count "$work/$1.args" 1 "$1: ReportEventA calls"
  cut -d, -f5 "$work/$1.args" | grep -qv '^0*$' || fail "$1: ReportEventA had no user's SID"
  [ "$(cut -d, -f6 "$work/$1.args")" = 0x000a ] || fail "$1: ReportEventA had not ten strings"
}
# expect_fields <name> <kind> <field>...: the entry's nine fields, after its
# text, are these, "*" for any but empty; `said` is then the first "*"
# field's. Wine 8 prints each string of the entry, Wine 10 leaves out the
# empty ones (ReportEventA's string count, 10, says that there were nine):
# there the others must be these, in their order.
expect_fields() {
  local name=$1 kind=$2 field i=0 printed expected=()
  shift 2
  mapfile -t printed < <(tail -n +2 "$work/$name.$kind" | sed 's/.*ReportEventW L"\(.*\)"$/\1/')
  for field in "$@"; do
    [ "${#printed[@]}" -eq 9 ] || [ -n "$field" ] && expected+=("$field")
  done
  said=
  [ "${#printed[@]}" -eq "${#expected[@]}" ] || {
    fail "$name: ${#printed[@]} fields printed, not 9 (or ${#expected[@]} but the empty ones)"
    return
  }
  for field in "${expected[@]}"; do
    if [ "$field" = "*" ] && [ -n "${printed[i]}" ]; then
      [ -n "$said" ] || said=${printed[i]}
    elif [ "$field" != "${printed[i]}" ]; then
      fail "$name: the fields are not in their order, or not these: $(printf '%s|' "${printed[@]}")"
      return
    fi
    i=$((i + 1))
  done
}
# net_said <name> <kind>: the text says what NET said, its field's words.
net_said() {
  [ -n "$said" ] || fail "$1: NET's words are missing from their field"
  grep -qF "NET said: \\\"${said:0:40}" "$work/$1.$2" || fail "$1: the text does not say what NET said"
}
entry='ReportEventW L"FQSrvUninstall [0-9.]+'

# The error entry with Wine's default channels: err is on for every one.
scenario failing -all,err+eventlog,fixme+advapi RegistryOnlyServiceGetsOneErrorBoxWhileTheWindowIsUp
one_entry failing error
grep -qE "$entry could not remove the service FQ: OpenService failed with error 1060[ .]" \
  "$work/failing.error" || fail "failing: the entry does not name FQ, OpenService and 1060"
grep -qF 'The key HKLM\\SYSTEM\\CurrentControlSet\\Services\\FQ holds an ImagePath' \
  "$work/failing.error" || fail "failing: the entry does not name the key"
expect_fields failing error failed OpenService 1060 "" "not run" "" shown elevated 1

scenario removal -all,+eventlog,fixme+advapi RunningServiceIsStoppedThenRemoved
one_entry removal information
grep -qE "$entry removed the service FQ: the service manager accepted its deletion\. The stop command ended with exit code 0\. NET said: " \
  "$work/removal.information" || fail "removal: not the entry of a service stopped by NET, then deleted"
expect_fields removal information removed "" "" 1 0 "*" none elevated 0
net_said removal information

scenario marked -all,+eventlog,fixme+advapi ServiceIgnoringTheStopDoesNotHoldTheProgramAndRunsOnMarked
one_entry marked warning
grep -qE "$entry marked the service FQ for deletion, but FQ is still running: it goes once it has stopped" \
  "$work/marked.warning" || fail "marked: the entry does not say that FQ is marked and still running"
# Wine's NET says it stopped a service that ignores the stop, and exits 0.
# (Wine's debugging output cuts the text before NET's words.)
expect_fields marked warning marked "" "" 4 0 "*" none elevated 0

# A NET that asks, as Windows' does when a dependent runs, and fails: Wine
# runs the NET.EXE that the scenario puts in the system directory only with
# the override.
WINEDLLOVERRIDES=net.exe=n scenario asked -all,+eventlog,fixme+advapi \
  UnderDllOverrides.NetThatAsks_ReadsNoAnswerAndTheRemovalGoesOn
one_entry asked warning
expect_fields asked warning marked "" "" 4 2 "The following services are dependent on the FQ \
service. Stopping the FQ service will also stop these services. FQ Dependent Do you want to \
continue this operation? (Y/N) [N]: No valid response was provided." none elevated 0

scenario held -all,+eventlog,fixme+advapi StoppedServiceHeldOpenElsewhereIsMarkedAndGoesOnceClosed
one_entry held warning
grep -qE "$entry marked the service FQ for deletion and it has stopped, but another program still holds it open" \
  "$work/held.warning" || fail "held: the entry does not say that another program holds FQ open"
expect_fields held warning "held open" "" "" 1 "not run" "" none elevated 0

scenario none -all,+eventlog,fixme+advapi NoServiceEndsAtOnceShowingNothing
count "$work/none.all" 0 "no FQ: lines of the event log"

[ "$failed" -eq 0 ] && echo "PASSED: one entry of ten strings each, its fields in their order: an error for a failed deletion, information for a removal with NET's words, a warning for FQ marked and running on with NET's words, also when NET fails, a warning for FQ held open elsewhere, each with the user's SID; none without FQ"
exit "$failed"

#!/bin/bash
# With no FQ to remove, FQSrvUninstall.exe ends without a pause and shows
# nothing: Wine's trace of the program's own calls (WINEDEBUG=+relay, kept to
# the calls that pause or show something) holds no Sleep, no ShowWindow and no
# message box. First, so that an empty trace cannot pass by accident, the same
# trace of a run with a stopped FQ must show its one Sleep(1000) and its
# ShowWindow.
#   tests/wine/no-service-trace.sh FQSrvUninstall.exe
# In tools/wine-env.sh's prefix when run inside it (ctest under
# tools/wine-tests.sh), else in a throwaway prefix of its own.
set -uo pipefail
program=${1:?usage: tests/wine/no-service-trace.sh FQSrvUninstall.exe}
program=$(realpath "$program") || exit 1
own_prefix=
if [ -z "${FQ_WINE_READY:-}" ]; then
  source "$(dirname "$0")/../../tools/wine-env.sh" || exit 1
  own_prefix=yes
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/fq-trace.XXXXXX") || exit 1

# Sleep is kernel32's, which hands it on to kernelbase.
calls=kernel32.Sleep\;kernelbase.Sleep\;kernel32.SleepEx\;kernelbase.SleepEx
calls+=\;user32.ShowWindow\;user32.ShowWindowAsync
for box in MessageBoxA MessageBoxW MessageBoxExA MessageBoxExW MessageBoxIndirectA \
  MessageBoxIndirectW MessageBoxTimeoutA MessageBoxTimeoutW; do
  calls+=\;user32.$box
done
traced=':Call [A-Za-z0-9_]+\.(Sleep|SleepEx|ShowWindow|ShowWindowAsync|MessageBox[A-Za-z]*)\('

# The trace's settings in the prefix, read by each process as it starts;
# "-" for a value takes it away.
debug_settings() {
  printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Debug]\r\n"RelayInclude"=%s\r\n"RelayFromInclude"=%s\r\n' \
    "$1" "$2" >"$work/debug.reg"
  "$FQ_WINE" reg import "Z:${work//\//\\}\\debug.reg" >/dev/null 2>&1
}
finish() {
  if [ -n "$own_prefix" ]; then
    fq_wine_cleanup
  else
    debug_settings - -
  fi
  rm -rf "$work"
}
trap finish EXIT

# Runs the program with the trace on: its exit code, its traced calls in $work/$1.
# Every line starts with its process's id, the program's own known by the
# line that says it was loaded: others write to the same output, such as the
# desktop's process, which the program's first window may start, or in a
# 64-bit prefix the 64-bit process that starts a 32-bit program.
run_traced() {
  WINEDEBUG=-all,+pid,+loaddll,+relay "$FQ_WINE" "$program" 2>"$work/$1.all" >/dev/null
  local status=$? pid
  pid=$(grep -a ':trace:loaddll:' "$work/$1.all" | grep -aiF "\\$(basename "$program")\" at " |
    head -n1 | cut -d: -f1)
  grep -aiE "^${pid:-none}:[0-9a-f]+$traced" "$work/$1.all" | sed 's/ ret=.*//' >"$work/$1"
  return "$status"
}

debug_settings "\"$calls\"" "\"$(basename "$program")\"" || {
  echo "cannot set the trace's settings"
  exit 1
}
failed=0
fail() {
  echo "FAILED: $*"
  failed=1
}

"$FQ_WINE" sc create FQ binpath= 'C:\nowhere\fq.exe' >/dev/null 2>&1 || fail "cannot register FQ"
run_traced stopped
status=$?
echo "a stopped FQ: exit code $status, traced calls:"
sed 's/^/  /' "$work/stopped"
[ "$status" -eq 0 ] || fail "a stopped FQ: exit code $status"
if [ "$(grep -ciE '\.Sleep(Ex)?\(' "$work/stopped")" -ne 1 ] ||
  ! grep -qiE '\.Sleep\(0*3e8\)$' "$work/stopped"; then
  fail "a stopped FQ: not one Sleep(1000)"
fi
grep -qiE '\.ShowWindow\(' "$work/stopped" || fail "a stopped FQ: no ShowWindow"
grep -qi 'MessageBox' "$work/stopped" && fail "a stopped FQ: a message box"

run_traced none
status=$?
echo "no FQ: exit code $status, traced calls:"
sed 's/^/  /' "$work/none"
[ "$status" -eq 0 ] || fail "no FQ: exit code $status"
[ -s "$work/none" ] && fail "no FQ: a pause or something shown"
[ "$failed" -eq 0 ] && echo "PASSED: no pause and nothing shown without FQ; one pause and the window with it"
exit "$failed"

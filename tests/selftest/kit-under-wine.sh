#!/bin/bash
# The self-test kit as an administrator runs it, under Wine: the zip unpacked
# into a fresh prefix (of FQ_WINE_ARCH's architecture, as tools/wine-tests.sh
# sets it) and selftest.cmd run by Wine's own cmd.exe:
#   - with a service FQ of someone else's, with only its key, with a service
#     FQLauncher of someone else's and with a reports folder it did not make,
#     it refuses (exit 2, one line naming it) and changes nothing;
#   - stopped with Ctrl+C in a check, it removes what it made, says so, and
#     exits 1;
#   - ended hard in a check (every process of the prefix killed), it leaves
#     FQ behind, which the next run removes first, saying so;
#   - that run (in a 32-bit prefix only the registry reader's checks and the
#     five below, FQSelfTest.exe --only=...) passes every check but those
#     only Windows can decide, which
#     are exactly the five named ones, each "not run under Wine: <why>", and
#     ends with "N passed, 0 failed, 5 skipped", exit 0;
#   - afterwards the registry's Services, the system folders, Program Files,
#     the temporary folder and the keys of the kit's own are as before.
# The zip must be at most 5 MiB. Prints its size and each run's time. A check
# the kit skips beside those five (an installer's example left out of a kit
# made without its tool) is a test not run: this then exits 77, which ctest
# counts as skipped, naming each with its reason in its last line.
# selftest.cmd runs elevated, from a prompt opened with "Run as administrator"
# as its README says: FQRunElevated.exe stands for that prompt (Wine 10, as
# Windows, gives a program started plainly an administrator's filtered token).
#   tests/selftest/kit-under-wine.sh FQSrvUninstall-<version>-selftest.zip FQRunElevated.exe
set -uo pipefail
zip=${1:?usage: tests/selftest/kit-under-wine.sh KIT.zip FQRunElevated.exe}
elevated=${2:?usage: tests/selftest/kit-under-wine.sh KIT.zip FQRunElevated.exe}
[ -f "$zip" ] || {
  echo "FAILED: no $zip: make it first (cmake --build --preset win32 --target selftest)"
  exit 1
}
zip=$(realpath "$zip")
elevated=$(realpath "$elevated")
checkout=$(cd "$(dirname "$0")/../.." && pwd)
failed=0
fail() {
  echo "FAILED: $*"
  failed=1
}

size=$(stat -c %s "$zip")
echo "the kit: $(basename "$zip"), $size bytes ($((size * 100 / 1048576 / 100)).$((size * 100 / 1048576 % 100)) MiB)"
[ "$size" -le $((5 * 1048576)) ] || fail "the zip is larger than 5 MiB"

# A fresh prefix, not the one the other tests of the run share.
unset FQ_WINE_READY
source "$checkout/tools/wine-env.sh" || exit 1
work=$(mktemp -d "${TMPDIR:-/tmp}/fq-kit.XXXXXX") || exit 1
finish() {
  fq_wine_cleanup
  rm -rf "$work"
}
trap finish EXIT
echo "Wine $("$FQ_WINE" --version), a $FQ_WINE_ARCH prefix"
# Unpacked into a folder, as "Extract here" does: the zip's one folder.
top=$(basename "$zip" .zip)
folder="C:\\FQ self-test\\$top"
unpacked=$WINEPREFIX/drive_c/FQ\ self-test/$top
mkdir -p "$WINEPREFIX/drive_c/FQ self-test" && (cd "$WINEPREFIX/drive_c/FQ self-test" && cmake -E tar xf "$zip") || exit 1
[ -f "$unpacked/selftest.cmd" ] && [ "$(ls -A "$WINEPREFIX/drive_c/FQ self-test")" = "$top" ] ||
  fail "the zip does not hold just its one folder $top"

services='HKLM\System\CurrentControlSet\Services'
wine_reg() { "$FQ_WINE" reg "$@" 2>/dev/null | tr -d '\r'; }
# The user's temporary folder as Wine names it: C:\users\<user>\Temp in Wine 8,
# ...\AppData\Local\Temp in Wine 10, as on Windows.
temp=$("$FQ_WINE" cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')
temp=$("$FQ_WINE" winepath -u "$temp" 2>/dev/null) && [ -d "$temp" ] || fail "no temporary folder in the prefix: $temp"
temp=${temp%/}
# What the kit may touch, as it stands: the services with their values, the
# system folders' files, Program Files, the temporary folder, the kit's own
# keys. (msiexec makes Windows Installer's own folder, C:\windows\Installer,
# which every Windows has.)
snapshot() {
  wine_reg query "$services" /s | grep -v '^$'
  (cd "$WINEPREFIX/drive_c" && find windows -type f -printf '%p %s\n' && find Program* -printf '%p %s\n' && find "$temp" -printf '%p %s\n') | sort
  for key in 'HKLM\Software\FQSrvUninstallTests' 'HKLM\Software\Wow6432Node\FQSrvUninstallTests' \
    'HKCU\Software\Wine\AppDefaults\FQSrvUninstall.exe' \
    'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\FQSrvUninstallSelfTest_is1'; do
    if wine_reg query "$key" >/dev/null; then echo "key $key"; fi
  done
}

# kit <name> [<runner option>...]: runs selftest.cmd as a user does, or with
# options its runner, its output to $work/<name>.
kit() {
  local name=$1
  shift
  if [ $# -eq 0 ]; then set -- cmd /c "$folder\\selftest.cmd"; else set -- "$folder\\bin\\FQSelfTest.exe" "$@"; fi
  "$FQ_WINE" "$elevated" "$@" </dev/null 2>"$work/$name.err" | tr -d '\r' >"$work/$name"
}
# The whole kit runs in the 64-bit prefix, as most Windows is. In the 32-bit
# one its checks are those the other Wine tests run there anyway: after the
# runs above, which are the kit's own, the last runs the five that only
# Windows decides and the registry reader's.
whole=()
[ "$FQ_WINE_ARCH" != win32 ] || whole=("--only=OnlyOnWindows.*:RegistryReaderOnWine.*")
# The Unix process of the prefix's program whose image (the first string of
# its command line) holds $1. Quick, so that the checks whose FQ lives a
# second or two are seen even in the emulated machine.
windows_process() {
  local pid image
  for pid in $(fq_wine_prefix_pids); do
    image=''
    IFS= read -r -d '' image <"/proc/$pid/cmdline" 2>/dev/null
    case $image in *"$1"*) echo "$pid" ;; esac
  done
}
# Starts the kit in the background and waits until a check has FQ running:
# our fixture's process is there (looked for in /proc, which is quick: a
# "wine reg query" each time took so long under Wine 10 that the check had
# removed FQ by then). Sets `runner` to the runner's process; says what that
# run said when no check got so far.
kit_until_fq() {
  kit "$1" &
  running=$!
  runner=
  while kill -0 "$running" 2>/dev/null; do
    [ -n "$runner" ] || runner=$(windows_process "$folder\\bin\\FQSelfTest.exe")
    [ -n "$runner" ] && [ -n "$(windows_process "$folder\\bin\\FQFixtureService.exe")" ] && return 0
    sleep 0.1
  done
  echo "the run ended before a check had FQ running; it said:"
  cat "$work/$1" "$work/$1.err"
  return 1
}

snapshot >"$work/before"

echo "== refused: a service FQ of someone else's, then its key alone"
"$FQ_WINE" sc create FQ binpath= 'C:\Program Files\FernQuay\fq.exe' >/dev/null 2>&1
wine_reg query "$services\\FQ" /s >"$work/fq.before"
kit refused-service
status=$?
cat "$work/refused-service"
[ "$status" -eq 2 ] || fail "with FQ registered: exit status $status, not 2"
[ "$(cat "$work/refused-service")" = "refused: this machine has the service FQ (C:\\Program Files\\FernQuay\\fq.exe): the checks would remove it. Run the self-test on a test machine without FQ." ] ||
  fail "with FQ registered: not the one line naming it"
wine_reg query "$services\\FQ" /s | cmp -s - "$work/fq.before" || fail "FQ was changed"
"$FQ_WINE" sc delete FQ >/dev/null 2>&1
"$FQ_WINE" reg add "$services\\FQ" /v ImagePath /d 'C:\Program Files\FernQuay\fq.exe' /f >/dev/null 2>&1
kit refused-key
status=$?
cat "$work/refused-key"
[ "$status" -eq 2 ] && grep -qx 'refused: this machine has the key HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\FQ (ImagePath C:\\Program Files\\FernQuay\\fq.exe): .*' "$work/refused-key" ||
  fail "with the key alone: exit status $status, or not the one line naming it"
wine_reg query "$services\\FQ" /v ImagePath | grep -q 'C:\\Program Files\\FernQuay\\fq.exe' ||
  fail "the key was changed"
"$FQ_WINE" reg delete "$services\\FQ" /f >/dev/null 2>&1
echo "== refused: a service FQLauncher of someone else's, then a reports folder the kit did not make"
"$FQ_WINE" sc create FQLauncher binpath= 'C:\Program Files\FernQuay\launcher.exe' >/dev/null 2>&1
kit refused-launcher
status=$?
cat "$work/refused-launcher"
[ "$status" -eq 2 ] && [ "$(cat "$work/refused-launcher")" = "refused: this machine has the service FQLauncher (C:\\Program Files\\FernQuay\\launcher.exe): the checks would remove it. Run the self-test on a test machine without FQLauncher." ] ||
  fail "with FQLauncher of someone else's: exit status $status, or not the one line naming it"
wine_reg query "$services\\FQLauncher" >/dev/null || fail "FQLauncher of someone else's was removed"
"$FQ_WINE" sc delete FQLauncher >/dev/null 2>&1
mkdir -p "$unpacked/reports" && echo theirs >"$unpacked/reports/theirs.txt"
kit refused-reports
status=$?
cat "$work/refused-reports"
[ "$status" -eq 2 ] && grep -qx 'refused: the folder .*\\reports is not one the kit made .*' "$work/refused-reports" ||
  fail "with a reports folder of someone else's: exit status $status, or not the one line naming it"
[ "$(cat "$unpacked/reports/theirs.txt" 2>/dev/null)" = theirs ] || fail "the reports folder of someone else's was changed"
rm -rf "$unpacked/reports"
[ ! -e "$unpacked/reports" ] || fail "a refused run made its reports folder"
snapshot | diff "$work/before" - >"$work/refused.diff" || { cat "$work/refused.diff"; fail "a refused run changed the machine"; }

echo "== stopped with Ctrl+C in a check"
# The signal must come while a check has FQ: one that has removed FQ itself
# before the signal came (a slow machine's polling is late) says nothing of
# it. Such a race lost is tried again, up to three times.
for attempt in 1 2 3; do
  kit_until_fq ctrl-c || fail "no check had FQ running"
  # Wine turns the signal into the console's Ctrl+C for the runner; its
  # checks run in a process group of their own, which Ctrl+C passes by.
  [ -z "$runner" ] || kill -INT "$runner"
  wait "$running"
  status=$?
  tail -n 3 "$work/ctrl-c"
  grep -qE '^stopped: removed .*service FQ(,|$)' "$work/ctrl-c" && break
  [ "$attempt" -lt 3 ] && [ "$status" -eq 1 ] && grep -q '^stopped: ' "$work/ctrl-c" &&
    ! wine_reg query "$services\\FQ" >/dev/null || break
  echo "(the check had removed FQ itself before the signal came: again)"
done
[ "$status" -eq 1 ] || fail "stopped: exit status $status, not 1"
grep -qE '^stopped: removed .*service FQ(,|$)' "$work/ctrl-c" ||
  fail "stopped: it does not say that it removed FQ"
snapshot | diff "$work/before" - >"$work/ctrl-c.diff" || { cat "$work/ctrl-c.diff"; fail "stopped, it left something"; }

echo "== ended hard in a check, then run again"
# Again up to three times, where the check had removed FQ before the end.
for attempt in 1 2 3; do
  kit_until_fq ended || fail "no check had FQ running"
  "$WINESERVER" -k
  wait "$running"
  wine_reg query "$services\\FQ" >/dev/null && break
  [ "$attempt" -lt 3 ] || fail "the run ended hard left no FQ: nothing for the next to remove"
done
started=$SECONDS
kit full "${whole[@]}"
status=$?
took=$((SECONDS - started))
grep -v '^passed ' "$work/full"
echo "the run: exit status $status, $took s, $(grep -c '^passed ' "$work/full") passed lines"
[ "$status" -eq 0 ] || fail "exit status $status, not 0"
grep -qE '^removed what an earlier run left: .*service FQ(,|$)' "$work/full" ||
  fail "it does not say that it removed what the run ended hard left"
grep '^skipped  ' "$work/full" | sed 's/^skipped  //' >"$work/skipped"
tail -n 1 "$work/full" | grep -qxE "[0-9]+ passed, 0 failed, $(grep -c . "$work/skipped") skipped" ||
  fail "not the closing line, or not counting the skipped lines"
windows_only=("Windows' own NET asks" "Session 0" "Not elevated" "The event in the log" "msiexec's 1603")
cp "$work/skipped" "$work/others"
for check in "${windows_only[@]}"; do
  grep -q "^$check: not run under Wine: .." "$work/skipped" ||
    fail "$check, which only Windows decides, was not skipped as not run under Wine, saying why"
  grep -v "^$check: not run under Wine: " "$work/others" >"$work/others.left"
  mv "$work/others.left" "$work/others"
done
others=$(paste -sd ';' "$work/others" | sed 's/;/; /g')
! grep -q '^FAILED' "$work/full" || fail "a check failed"
[ "$(find "$unpacked/reports" -name '*.xml' | wc -l)" -eq "$(grep -cE '^(passed|skipped|FAILED) ' "$work/full")" ] ||
  fail "not one report for each check"
snapshot | diff "$work/before" - >"$work/full.diff" || { cat "$work/full.diff"; fail "it left something behind"; }

[ "$failed" -eq 0 ] || exit 1
if [ -n "$others" ]; then
  echo "the kit's run skipped checks beside the five that only Windows decides: $others (kit-under-wine.sh)"
  exit 77
fi
echo "PASSED: refused four times changing nothing; stopped, it cleaned up; a run after one ended hard cleaned up first and passed, skipping only the five that only Windows decides; nothing left"

#!/bin/bash
# shellcheck disable=SC2317 # the steps' functions run through step
# Every test of the project, from a fresh clone:
#   1. installs what is missing (tools/install-prereqs.sh);
#   2. the unit tests on the Linux stand-in of Win32 (preset "native"), the
#      same under the sanitizers, a short fuzzing run, static analysis;
#   3. FQSrvUninstall.exe for 32-bit Windows (preset "win32"), the self-test
#      kit, and the Wine tests (the kit's run among them), in a 32-bit prefix
#      (32-bit Windows) and in a 64-bit one (64-bit Windows, which runs it
#      under WoW64): on this machine where its kernel runs 32-bit x86 code,
#      else in an emulated Debian machine whose kernel does (tools/guest/;
#      its image built once and cached), and there also, natively, the same
#      sources built for 64-bit Windows (preset "win64");
#   4. the file we ship (tests/release): tools/check-exe.sh, the same bytes
#      from another folder, tools/release.sh unsigned, signed and refusing,
#      the signed file under Wine.
# Each group of tests is one ctest run, which leaves its output and reports in
# build/logs/<run>/; its counts come from those reports (tools/test-report.py).
# Prints each step's time and ends with one SUMMARY line; the exit status is 0
# only when all passed. A skipped test fails the run as well, named with its
# reason, unless FQ_ALLOW_SKIP=1 (a machine without the installers' tools);
# skips are counted apart. Interrupted, it ends every step it started and what
# those started before it exits (tools/process-groups.sh).
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
source tools/process-groups.sh
logs=build/logs
rm -rf "$logs"
mkdir -p "$logs"
summary=() failed=0 foreground=0

# step [--here] <name> <command...>: runs one step, noting how it went and how
# long it took. The command runs in a process group of its own (apart), and
# what it finds comes back in files; with --here in this shell: the
# prerequisites, which may ask for sudo's password, and the wait for the
# guest's image. In the steps beside the guest (foreground=1) each runs in
# their group.
step() {
  local here=$foreground
  [ "$1" != --here ] || { here=1 && shift; }
  local name=$1 started=$SECONDS verdict=passed
  shift
  echo "==> $name"
  if [ "$here" -eq 1 ]; then "$@"; else apart "$@" && await $!; fi || verdict=FAILED
  local took="$((SECONDS - started)) s"
  echo "<== $name: $verdict ($took)"
  summary+=("$name: $verdict ($took)")
  [ "$verdict" = passed ] || failed=1
}

# tally <run> <status>: the counts of one run from its reports, into
# build/logs/<run>/counts ("<passed> <failed> <skipped>", then a line for each
# test case that failed or was skipped), and shown. Fails when the status
# says so, when a test failed, or when one was skipped and FQ_ALLOW_SKIP=1 is
# not set.
tally() {
  local counts=$logs/$1/counts passed failures skips
  mkdir -p "$logs/$1"
  tools/test-report.py "$logs/$1" >"$counts" || echo "0 1 0" >"$counts"
  read -r passed failures skips <"$counts"
  echo "$passed passed, $failures failed, $skips skipped"
  tail -n +2 "$counts"
  [ "$2" -eq 0 ] && [ "$failures" -eq 0 ] || return 1
  if [ "$skips" -gt 0 ] && [ "${FQ_ALLOW_SKIP:-0}" != 1 ]; then
    echo "a test skipped is a test not run: this fails (FQ_ALLOW_SKIP=1 lets skips pass)"
    return 1
  fi
}

# ctest_run <run> <preset> <reports> [<ctest option>...]: one group of a
# build's tests on this machine; <reports> is where its GoogleTest programs
# write theirs.
ctest_run() {
  local run=$logs/$1 preset=$2 reports=$3
  shift 3
  rm -rf "$run" "$reports"
  mkdir -p "$run"
  ctest --preset "$preset" --output-junit "$PWD/$run/ctest.xml" -V "$@" >"$run/ctest.log" 2>&1
  local status=$?
  [ ! -d "$reports" ] || mv "$reports" "$run/reports"
  tally "$(basename "$run")" "$status"
}

prerequisites() {
  if [ "$(id -u)" -eq 0 ] || command -v sudo >/dev/null; then
    tools/install-prereqs.sh
  else
    echo "not root: assuming the prerequisites are installed"
  fi
}

native_tests() {
  cmake --preset native >/dev/null && cmake --build --preset native &&
    ctest_run native native build/native/reports
}

windows_build() {
  cmake --preset win32 >/dev/null && cmake --build --preset win32
}

# The self-test kit, which wine_selftest_kit runs: its Inno Setup example is
# compiled by ISCC.exe, a 32-bit Windows program, under Wine here, else in the
# guest (FQ_GUEST_IMAGE), so it is made once either can run it.
selftest_kit() {
  cmake --build --preset win32 --target selftest
}

# wine_here <build> <prefix>: the build's Wine tests (tools/wine-tests.sh) in a
# prefix of that architecture, on this machine.
wine_here() {
  { [ "$1" = win32 ] || { cmake --preset "$1" >/dev/null && cmake --build --preset "$1"; }; } &&
    tools/wine-tests.sh "$1" "$2"
  tally "$1-$2" $?
}

# wine_in_guest <prefix>: the win32 build's, in the guest, which sees this
# checkout at the same path and runs the programs built here.
wine_in_guest() {
  if [ -z "${FQ_GUEST_IMAGE:-}" ]; then
    echo "no guest image to run the tests in"
    tally "win32-$1" 1
    return
  fi
  tools/guest/run.sh --timeout 2400 -- tools/wine-tests.sh win32 "$1"
  tally "win32-$1" $?
}

# The file we ship: its tests run here, and where the signed file must run
# under Wine and this kernel cannot, that test boots the guest itself.
release_tests() {
  ctest_run release win32 build/win32/tests/release/reports --label-regex release
}

# The guest's image, where this kernel runs no 32-bit code: built (on the
# first run, some minutes, mostly fetching and unpacking packages) while the
# steps that need no guest run; guest_image then waits for it.
start_guest_image() {
  apart tools/guest/image.sh >"$logs/guest-image.out" 2>"$logs/guest-image.log"
  image_build=$!
}

guest_image() {
  await "$image_build"
  local status=$?
  cat "$logs/guest-image.log"
  [ "$status" -eq 0 ] && FQ_GUEST_IMAGE=$(cat "$logs/guest-image.out") && [ -n "$FQ_GUEST_IMAGE" ] &&
    export FQ_GUEST_IMAGE
}

# Steps with no time limit of their own, which may run beside the guest at the
# lowest priority (see below).
steps_that_may_wait() {
  step "unit tests (stand-in)" native_tests
  step "sanitizers" tools/sanitize.sh
  step "static analysis" tools/static-analysis.sh
}

# Where the guest is needed, its image and then the 32-bit build's tests in it
# take the longest, and an emulated machine slows down far more than the
# processor time it loses: the steps that may wait run beside it, at the
# lowest priority, on what the guest leaves of the processors, in one process
# group. Their output goes to a log, shown when they are done; their summary
# lines come back in a file of their own, written once they are all done.
start_steps_beside_the_guest() {
  apart steps_beside_the_guest >"$logs/beside.log" 2>&1
  beside=$!
}

steps_beside_the_guest() {
  renice -n 19 -p "$BASHPID" >/dev/null
  summary=() failed=0 foreground=1
  steps_that_may_wait
  printf '%s\n' "${summary[@]}" >"$logs/beside.result.new" &&
    mv "$logs/beside.result.new" "$logs/beside.result"
}

# Waits for them, shows what they said, and takes their results into the
# summary, after the prerequisites, where they would have stood.
wait_for_steps_beside_the_guest() {
  local beside_summary=()
  echo "==> unit tests, sanitizers, static analysis: run beside the guest, their output"
  await "$beside"
  cat "$logs/beside.log"
  [ ! -f "$logs/beside.result" ] || mapfile -t beside_summary <"$logs/beside.result"
  [ "${#beside_summary[@]}" -gt 0 ] || beside_summary=("steps beside the guest: FAILED (no result)")
  summary=("${summary[@]:0:1}" "${beside_summary[@]}" "${summary[@]:1}")
  ! printf '%s\n' "${beside_summary[@]}" | grep -q ': FAILED' || failed=1
}

step --here "prerequisites" prerequisites
# The 32-bit build in a 32-bit prefix, as 32-bit Windows runs it, and in a
# 64-bit one, as 64-bit Windows runs it (WoW64).
if tools/runs-i386.sh; then
  steps_that_may_wait
  step "fuzzing" tools/fuzz.sh 30
  step "Windows build (win32)" windows_build
  step "self-test kit" selftest_kit
  step "Wine tests (win32 build, 32-bit prefix, on this machine)" wine_here win32 win32
  step "Wine tests (win32 build, 64-bit prefix: WoW64, on this machine)" wine_here win32 win64
  where="on this machine"
  runs=(native win32-win32 win32-win64)
else
  echo "This kernel runs no 32-bit x86 code: the 32-bit build is tested in an emulated machine."
  start_guest_image
  step "Windows build (win32)" windows_build
  start_steps_beside_the_guest
  # Fuzzing and the 64-bit build's Wine tests have time limits of their own
  # (an input's, a run's), which the lowest priority could overrun: they run
  # now, while the image may still be in the making, as the guest needs
  # neither.
  step "fuzzing" tools/fuzz.sh 30
  step "Wine tests (win64 build, 64-bit prefix, on this machine)" wine_here win64 win64
  step --here "guest image (built once, then cached; the wait for it)" guest_image
  step "self-test kit (its Inno Setup example compiled in the guest)" selftest_kit
  step "Wine tests (win32 build, 32-bit prefix, in the guest)" wine_in_guest win32
  step "Wine tests (win32 build, 64-bit prefix: WoW64, in the guest)" wine_in_guest win64
  wait_for_steps_beside_the_guest
  where="in the qemu guest"
  runs=(native win32-win32 win32-win64 win64-win64)
fi
step "the file we ship (tests/release)" release_tests
runs+=(release)

# What one run was, in words.
declare -A run_names=(
  [native]="unit tests on the stand-in"
  [win32-win32]="Wine tests of the win32 build in a 32-bit prefix $where"
  [win32-win64]="Wine tests of the win32 build in a 64-bit prefix (WoW64) $where"
  [win64-win64]="Wine tests of the win64 build in a 64-bit prefix on this machine"
  [release]="tests of the file we ship on this machine"
)

echo
printf '%s\n' "${summary[@]}"
verdict=PASSED
[ "$failed" -eq 0 ] || verdict=FAILED
# The closing line counts test cases; a failed step without test counts of its
# own (build, image, sanitizers, fuzzing, analysis) counts as one failure.
failed_steps=$(printf '%s\n' "${summary[@]}" | grep -c ': FAILED')
passed=0 failures=0 skipped=0 counts=''
for run in "${runs[@]}"; do
  read -r p f s < <(head -n 1 "$logs/$run/counts" 2>/dev/null || echo "0 1 0")
  passed=$((passed + p)) failures=$((failures + f)) skipped=$((skipped + s))
  # A run whose failure its counts tell: failed tests, or skipped ones not let pass.
  if [ "$f" -gt 0 ] || { [ "$s" -gt 0 ] && [ "${FQ_ALLOW_SKIP:-0}" != 1 ]; }; then
    failed_steps=$((failed_steps - 1))
  fi
  counts="${counts:+$counts; }$((p + f + s)) ${run_names[$run]}"
  tail -n +2 "$logs/$run/counts" 2>/dev/null | sed "s/^/($run) /"
done
exe_size=$(stat -c %s build/win32/FQSrvUninstall.exe 2>/dev/null || echo '?')
echo "$verdict - $counts; FQSrvUninstall.exe (win32) $exe_size bytes; $SECONDS s in all"
if [ "$skipped" -gt 0 ] && [ "${FQ_ALLOW_SKIP:-0}" != 1 ]; then
  echo "$skipped tests skipped, listed above: a skipped test fails the run (FQ_ALLOW_SKIP=1 lets skips pass)"
fi
echo "SUMMARY: $passed passed, $((failures + failed_steps)) failed, $skipped skipped ($counts)"
exit "$failed"

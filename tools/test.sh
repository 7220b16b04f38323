#!/bin/bash
# Every test of the project, from a fresh clone:
#   1. installs what is missing (tools/install-prereqs.sh),
#   2. the unit tests on the Linux stand-in of Win32 (preset "native"),
#   3. the same under the sanitizers, a short fuzzing run, static analysis
#      (tools/sanitize.sh, tools/fuzz.sh, tools/static-analysis.sh),
#   4. FQSrvUninstall.exe for 32-bit Windows (preset "win32"), checked to be
#      a PE32 GUI program that imports only system DLLs,
#   5. the tests of that 32-bit build under Wine, on a virtual display: on
#      this machine where its kernel runs 32-bit x86 code, else in an emulated
#      Debian machine whose kernel does (tools/guest/; its image is built once
#      and cached), and then also, natively, on the same sources built for
#      64-bit Windows (preset "win64"), where Wine runs at full speed.
# Prints each step's time and ends with one summary line; the exit status is
# 0 only when all passed.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
logs=build/logs
mkdir -p "$logs"

summary=()
failed=0

# step <name> <command...>: runs one step, noting how it went and how long it took.
step() {
  local name=$1 started=$SECONDS verdict=passed
  shift
  echo "==> $name"
  "$@" || verdict=FAILED
  local took="$((SECONDS - started)) s"
  echo "<== $name: $verdict ($took)"
  summary+=("$name: $verdict ($took)")
  [ "$verdict" = passed ] || failed=1
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
    ctest --preset native 2>&1 | tee "$logs/native.log" | tail -n 3
  local status=${PIPESTATUS[0]}
  native_count=$(grep -o 'out of [0-9]*' "$logs/native.log" | grep -o '[0-9]*')
  native_failed=$(grep -oE '[0-9]+ tests failed' "$logs/native.log" | grep -oE '^[0-9]+')
  native_count=${native_count:-0} native_failed=${native_failed:-0}
  [ "$status" -eq 0 ] || [ "$native_failed" -gt 0 ] || native_failed=1
  return "$status"
}

# Only system DLLs, so that the .exe runs on any Windows as it is.
check_exe() {
  tools/check-exe.sh "$1" | tee "$logs/exe.txt" || return 1
  exe_size=$(stat -c %s "$1")
}

windows_build() {
  cmake --preset win32 >/dev/null && cmake --build --preset win32 &&
    check_exe build/win32/FQSrvUninstall.exe
}

# wine_counts <preset>: test cases passed and failed in its Wine log. A test
# program that failed counts at least once, even if it died early.
declare -A wine_passed wine_failed
wine_counts() {
  local log=$logs/wine-$1.log status=$2 failures
  wine_passed[$1]=$(grep -soE '^[0-9]+: \[  PASSED  \] [0-9]+' "$log" |
    awk '{sum += $NF} END {print sum + 0}')
  failures=$(grep -soE '[0-9]+ tests failed' "$log" | grep -oE '^[0-9]+')
  wine_failed[$1]=${failures:-0}
  [ "$status" -eq 0 ] || [ "${wine_failed[$1]}" -gt 0 ] || wine_failed[$1]=1
  return "$status"
}

wine_tests_here() {
  local preset=$1
  rm -f "$logs/wine-$preset.log"
  { [ "$preset" = win32 ] || { cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset"; }; } &&
    tools/wine-tests.sh "$preset"
  wine_counts "$preset" $?
}

guest_image() {
  FQ_GUEST_IMAGE=$(tools/guest/image.sh) && export FQ_GUEST_IMAGE
}

# The programs were built here; the guest sees this checkout at the same path.
wine_tests_in_guest() {
  rm -f "$logs/wine-win32.log"
  if [ -z "${FQ_GUEST_IMAGE:-}" ]; then
    echo "no guest image to run the tests in"
    wine_counts win32 1
    return
  fi
  tools/guest/run.sh --timeout 1800 -- tools/wine-tests.sh win32
  wine_counts win32 $?
}

native_count=0 native_failed=0 exe_size='?'
step "prerequisites" prerequisites
step "unit tests (stand-in)" native_tests
step "sanitizers" tools/sanitize.sh
step "fuzzing" tools/fuzz.sh 30
step "static analysis" tools/static-analysis.sh
step "Windows build (win32)" windows_build
if tools/runs-i386.sh; then
  step "Wine tests (win32, on this machine)" wine_tests_here win32
  wine_runs=("win32 build on this machine")
else
  echo "This kernel runs no 32-bit x86 code: the 32-bit build is tested in an emulated machine."
  step "guest image (built once, then cached)" guest_image
  step "Wine tests (win32, in the guest)" wine_tests_in_guest
  step "Wine tests (win64, on this machine)" wine_tests_here win64
  wine_runs=("win32 build in the qemu guest" "win64 build on this machine")
fi

echo
printf '%s\n' "${summary[@]}"
verdict=PASSED
[ "$failed" -eq 0 ] || verdict=FAILED
passed=$((native_count - native_failed)) failures=$native_failed
counts="$native_count unit tests on the stand-in"
for run in "${wine_runs[@]}"; do
  preset=${run%% *}
  passed=$((passed + ${wine_passed[$preset]:-0}))
  failures=$((failures + ${wine_failed[$preset]:-0}))
  counts="$counts; $((${wine_passed[$preset]:-0} + ${wine_failed[$preset]:-0})) Wine tests of the $run"
done
echo "$verdict - $counts; FQSrvUninstall.exe (win32) $exe_size bytes; $SECONDS s in all"
# The closing line counts test cases; a failed step without test counts of its
# own (build, image, sanitizers, fuzzing, analysis) counts as one failure.
failed_steps=$(printf '%s\n' "${summary[@]}" | grep -c 'FAILED')
[ "$native_failed" -eq 0 ] || failed_steps=$((failed_steps - 1))
for preset in "${!wine_failed[@]}"; do
  [ "${wine_failed[$preset]}" -eq 0 ] || failed_steps=$((failed_steps - 1))
done
echo "SUMMARY: $passed passed, $((failures + failed_steps)) failed ($counts)"
exit "$failed"

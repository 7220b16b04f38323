#!/bin/bash
# Every test of the project, from a fresh clone:
#   1. installs what is missing (tools/install-prereqs.sh),
#   2. the unit tests on the Linux stand-in of Win32 (preset "native"),
#   3. the same under the sanitizers, a short fuzzing run, static analysis
#      (tools/sanitize.sh, tools/fuzz.sh, tools/static-analysis.sh),
#   4. FQSrvUninstall.exe for 32-bit Windows (preset "win32"), checked to be
#      a PE32 GUI program that imports only system DLLs,
#   5. the tests of the Windows build under Wine, on a virtual display.
# Wine runs them as 32-bit programs (preset "win32") where this machine can
# execute 32-bit x86 code; where it cannot, the same sources are built for
# 64-bit Windows (preset "win64") and tested that way, and it says why.
# Ends with one summary line; the exit status is 0 only when all passed.
set -uo pipefail
cd "$(dirname "$0")/.."
logs=build/logs
mkdir -p "$logs"

summary=()
failed=0

# step <name> <command...>: runs one step, noting how it went.
step() {
  local name=$1
  shift
  echo "==> $name"
  if "$@"; then
    summary+=("$name: passed")
  else
    summary+=("$name: FAILED")
    failed=1
  fi
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
  local exe=$1 imports
  file "$exe" | tee "$logs/exe.txt"
  file "$exe" | grep -q 'PE32 executable (GUI) Intel 80386' || return 1
  imports=$(i686-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ {print toupper($3)}' | sort)
  echo "imports:" $imports
  for dll in $imports; do
    case $dll in
      KERNEL32.DLL | USER32.DLL | GDI32.DLL | ADVAPI32.DLL | MSVCRT.DLL | COMCTL32.DLL) ;;
      *) echo "unexpected import: $dll" && return 1 ;;
    esac
  done
  exe_size=$(stat -c %s "$exe")
}

windows_build() {
  cmake --preset win32 >/dev/null && cmake --build --preset win32 &&
    check_exe build/win32/FQSrvUninstall.exe
}

wine_tests() {
  source tools/wine-env.sh || return 1
  wine_preset=$FQ_WINE_ARCH
  if [ "$wine_preset" = win64 ]; then
    echo "Wine cannot run 32-bit programs here: $FQ_WINE_WHY."
    echo "Running the Wine tests on the same sources built for 64-bit Windows (preset win64)."
    cmake --preset win64 >/dev/null && cmake --build --preset win64 || return 1
  fi
  ctest --preset "$wine_preset" -V >"$logs/wine.log" 2>&1
  local status=$?
  grep -E '^[0-9]+: \[ (timing|  FAILED) ' "$logs/wine.log" | sed 's/^[0-9]*: //'
  grep -E '^ *[0-9]+/[0-9]+ Test +#' "$logs/wine.log"
  wine_count=$(grep -oE '^[0-9]+: \[  PASSED  \] [0-9]+' "$logs/wine.log" |
    awk '{sum += $NF} END {print sum + 0}')
  # A test program that failed counts at least once, even if it died early.
  wine_failed=$(grep -oE '[0-9]+ tests failed' "$logs/wine.log" | grep -oE '^[0-9]+')
  wine_failed=${wine_failed:-0}
  [ "$status" -eq 0 ] || [ "$wine_failed" -gt 0 ] || wine_failed=1
  [ "$status" -eq 0 ] || tail -n 80 "$logs/wine.log"
  fq_wine_cleanup
  return "$status"
}

native_count=0 native_failed=0 wine_count=0 wine_failed=0 exe_size=? wine_preset=?
step "prerequisites" prerequisites
step "unit tests (stand-in)" native_tests
step "sanitizers" tools/sanitize.sh
step "fuzzing" tools/fuzz.sh 30
step "static analysis" tools/static-analysis.sh
step "Windows build (win32)" windows_build
step "Wine tests" wine_tests

echo
printf '%s\n' "${summary[@]}"
verdict=PASSED
[ "$failed" -eq 0 ] || verdict=FAILED
echo "$verdict - $native_count unit tests on the stand-in;" \
  "$wine_count tests under Wine (preset $wine_preset);" \
  "FQSrvUninstall.exe (win32) $exe_size bytes"
# The closing line counts test cases; a failed step without test counts of its
# own (build, sanitizers, fuzzing, analysis) counts as one failure.
failed_steps=$(printf '%s\n' "${summary[@]}" | grep -c 'FAILED')
[ "$native_failed" -eq 0 ] || failed_steps=$((failed_steps - 1))
[ "$wine_failed" -eq 0 ] || failed_steps=$((failed_steps - 1))
echo "SUMMARY: $((native_count - native_failed + wine_count)) passed," \
  "$((native_failed + wine_failed + failed_steps)) failed"
exit "$failed"

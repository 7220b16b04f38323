#!/bin/bash
# shellcheck disable=SC2317 # the steps' functions run through step and trap
# Every test of the project, from a fresh clone:
#   1. installs what is missing (tools/install-prereqs.sh),
#   2. the unit tests on the Linux stand-in of Win32 (preset "native"),
#   3. the same under the sanitizers, a short fuzzing run, static analysis
#      (tools/sanitize.sh, tools/fuzz.sh, tools/static-analysis.sh),
#   4. FQSrvUninstall.exe for 32-bit Windows (preset "win32"), checked to be
#      a PE32 GUI program that imports only system DLLs,
#   5. the tests of that 32-bit build under Wine, on a virtual display, in a
#      32-bit prefix (32-bit Windows) and in a 64-bit one (64-bit Windows,
#      which runs it under WoW64): on this machine where its kernel runs
#      32-bit x86 code, else in an emulated Debian machine whose kernel does
#      (tools/guest/; its image is built once and cached; the unit tests,
#      sanitizers and analysis then run beside the guest at the lowest
#      priority), and there also, natively, on the same sources built for
#      64-bit Windows (preset "win64"), where Wine runs at full speed,
#   6. the file we ship: the same bytes when built in another folder, and
#      tools/release.sh, signing with a throwaway authority made here, the
#      signed file then run under Wine as in step 5.
# Prints each step's time and ends with one summary line; the exit status is
# 0 only when all passed. A test that was skipped (GTEST_SKIP, or a test ctest
# did not run) fails the run as well, named with the reason it gave: what it
# checks went unchecked. FQ_ALLOW_SKIP=1 lets skips pass (for a machine
# without the installers' tools); they are still counted apart.
# Interrupted (Ctrl-C, or a TERM at a time limit), it ends every step it
# started and what those started (the image's build, the guest, the builds
# beside it) before it exits, so that nothing races the next run.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
logs=build/logs
mkdir -p "$logs"
# What the last run left: results that a step which does not get as far as
# writing its own must not take for its.
rm -f "$logs"/*.counts "$logs/beside.result"

summary=()
failed=0
allow_skip=${FQ_ALLOW_SKIP:-0}

# Each step runs in a process group of its own, whose leader's pid is kept
# here while it runs: the step in the foreground, the steps beside the guest,
# the guest's image. A signal ends each whole group, whatever it started.
step_group='' beside_group='' image_group=''
apart=1 # 0 in the steps beside the guest: their group is already their own

# start_apart <command...>: starts it in the background, in a new process
# group (job control gives each job its own); its pid is then in $!. Input
# from nowhere: a group in the background may not read the terminal.
start_apart() {
  set -m
  "$@" </dev/null &
  set +m
}

# run_apart <command...>: runs it so, and waits for it; a signal to this
# script ends the wait at once (a command in the foreground would be waited
# for to its end before the trap runs).
run_apart() {
  [ "$apart" -eq 1 ] || { "$@"; return; }
  start_apart "$@"
  step_group=$!
  wait "$step_group"
  local status=$?
  step_group=''
  return "$status"
}

# group_alive <pgid> [<pid>]: a process of that group, other than <pid>, still
# runs (zombies aside).
group_alive() {
  ps -e -o pid=,pgid=,stat= |
    awk -v group="$1" -v but="${2:-}" '$2 == group && $1 != but && $3 !~ /^Z/ { alive = 1 }
      END { exit !alive }'
}

# await_group <pgid> [<pid>]: waits a minute at most for group_alive to say no.
await_group() {
  local deadline=$((SECONDS + 60))
  while group_alive "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 1
  done
}

# Ends the groups still running. Each gets TERM, which lets the guest's run
# stop its qemu, and mmdebstrap unmount what it mounted; the leader, held
# stopped meanwhile, takes it last, so that its own cleanup (the image
# build's removal of its unfinished folder) comes after theirs, not in the
# middle of it. KILL for what is left a minute later. The leaders are this
# shell's children, not yet waited for: no other process can have taken
# their numbers.
stop_groups() {
  local group
  for group in $step_group $beside_group $image_group; do
    kill -STOP "$group" 2>/dev/null
    kill -TERM -- "-$group" 2>/dev/null
  done
  for group in $step_group $beside_group $image_group; do
    await_group "$group" "$group"
    kill -CONT "$group" 2>/dev/null
    if ! await_group "$group"; then
      echo "test.sh: process group $group still there a minute after TERM: killed" >&2
      kill -KILL -- "-$group" 2>/dev/null
    fi
    wait "$group" 2>/dev/null
  done
  step_group='' beside_group='' image_group=''
}

# interrupted <signal> <status>: what is running ends, then this script.
interrupted() {
  trap - INT TERM HUP
  echo >&2
  local groups="${step_group:+ $step_group}${beside_group:+ $beside_group}${image_group:+ $image_group}"
  echo "test.sh: $1; ending the steps still running (process groups:$groups)" >&2
  stop_groups
  exit "$2"
}
trap 'interrupted interrupted 130' INT
trap 'interrupted terminated 143' TERM
trap 'interrupted "hung up" 129' HUP
trap stop_groups EXIT

# step [--here] <name> <command...>: runs one step, noting how it went and how
# long it took. The command runs apart (above), in a subshell: what it finds
# comes back in files. With --here it runs in this shell: the prerequisites,
# which may ask for sudo's password, and the wait for the guest's image.
step() {
  local here=0
  [ "$1" != --here ] || { here=1 && shift; }
  local name=$1 started=$SECONDS verdict=passed
  shift
  echo "==> $name"
  if [ "$here" -eq 1 ]; then "$@"; else run_apart "$@"; fi || verdict=FAILED
  local took="$((SECONDS - started)) s"
  echo "<== $name: $verdict ($took)"
  summary+=("$name: $verdict ($took)")
  [ "$verdict" = passed ] || failed=1
}

# skipped_tests <log>: one line for each test that a ctest -V log shows
# skipped, "<test>: <reason>". GoogleTest prints "<file>:<line>: Skipped",
# the reason given, then "[  SKIPPED ] <Suite/Test.Name/Param> (<n> ms)"; each
# line of a test's output comes prefixed with its ctest number. ctest itself
# lists what it did not run, "(Skipped)" or "(Disabled)", at the end; such a
# test counts once more only when its output showed no skip of its own.
skipped_tests() {
  awk '
    { sub(/\r$/, "") }
    /^ *Start +[0-9]+: / {
      n = $2; sub(/:$/, "", n); name = $0; sub(/^ *Start +[0-9]+: /, "", name); ctest[n] = name
      next
    }
    /^The following tests did not run:$/ { listing = 1; next }
    listing && /^[ \t]*[0-9]+ - .* \((Skipped|Disabled)\)$/ {
      n = $1; name = $0; sub(/^[ \t]*[0-9]+ - /, "", name); why = name
      sub(/ \((Skipped|Disabled)\)$/, "", name); sub(/.* \(/, "", why); sub(/\)$/, "", why)
      unrun[++unruns] = n; unrun_line[n] = name ": " tolower(why) " by ctest"
      next
    }
    { listing = 0 }
    match($0, /^[0-9]+: /) {
      n = substr($0, 1, RLENGTH - 2); line = substr($0, RLENGTH + 1)
      if (line ~ /: Skipped$/) {
        where[n] = line; sub(/: Skipped$/, "", where[n]); sub(/.*[\/\\]/, "", where[n])
        reason[n] = ""; reading[n] = 1
      } else if (line ~ /^\[  SKIPPED \] [^ ]+ \([0-9]+ ms\)$/) {
        test = line; sub(/^\[  SKIPPED \] /, "", test); sub(/ \([0-9]+ ms\)$/, "", test)
        # A program that holds many tests is named with them.
        if (ctest[n] != "" && ctest[n] !~ /\./) test = ctest[n] ": " test
        print test ": " (reason[n] == "" ? "no reason given" : reason[n]) \
          (where[n] == "" ? "" : " (" where[n] ")")
        reading[n] = 0; skipped[n] = 1
      } else if (reading[n] && line ~ /^\[/) {
        reading[n] = 0
      } else if (reading[n] && line != "") {
        reason[n] = reason[n] (reason[n] == "" ? "" : " / ") line
      }
      # What the test said last, for one that ctest alone reports skipped.
      if (line != "" && line !~ /^(Test command|Working Directory|Test timeout computed to be): /) last[n] = line
    }
    END {
      for (i = 1; i <= unruns; i++) {
        n = unrun[i]
        if (!skipped[n]) print unrun_line[n] (last[n] == "" ? "" : ", its output ending: " last[n])
      }
    }
  ' "$1"
}

# passed_tests <log>: the test cases that passed in a ctest -V log: what
# GoogleTest counted so in each program, and one for each test that ctest
# says passed but holds no GoogleTest count (a script, such as the trace's).
passed_tests() {
  awk '
    match($0, /^[0-9]+: \[  PASSED  \] [0-9]+/) {
      n = $0; sub(/:.*/, "", n); count = substr($0, RSTART, RLENGTH); sub(/.* /, "", count)
      sum += count; counted[n] = 1
    }
    /Test +#[0-9]+: .* Passed +[0-9.]+ sec/ {
      n = $0; sub(/.*Test +#/, "", n); sub(/:.*/, "", n); passed[n] = 1
    }
    END { for (n in passed) if (!(n in counted)) sum++; print sum + 0 }
  ' "$1"
}

# count_tests <run> <log> <status>: writes the counts of one run to
# build/logs/<run>.counts, "<passed> <failed> <skipped>" on its first line and
# the tests skipped on the next ones, and says which were skipped. Passed:
# what GoogleTest counted so, skips not among them; failed: what ctest did, at
# least one when the status says so. Fails when the status does, or when a
# test was skipped and FQ_ALLOW_SKIP=1 is not set.
count_tests() {
  local run=$1 log=$2 status=$3 passed failures skips
  passed=$(passed_tests "$log")
  failures=$(grep -soE '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" |
    awk '{sum += $4} END {print sum + 0}')
  [ "$status" -eq 0 ] || [ "$failures" -gt 0 ] || failures=1
  skips=$(skipped_tests "$log" 2>/dev/null)
  {
    echo "$passed $failures $(grep -c . <<<"$skips")"
    [ -z "$skips" ] || echo "$skips"
  } >"$logs/$run.counts"
  tail -n +2 "$logs/$run.counts" | sed 's/^/skipped: /'
  [ "$status" -eq 0 ] || return "$status"
  if [ -n "$skips" ] && [ "$allow_skip" != 1 ]; then
    echo "a test skipped is a test not run: this fails (FQ_ALLOW_SKIP=1 lets skips pass)"
    return 1
  fi
}

# counts <run>: "<passed> <failed> <skipped>" of one run; none when it wrote
# no counts (it did not get that far, which its step's verdict tells).
counts() {
  head -n 1 "$logs/$1.counts" 2>/dev/null || echo "0 0 0"
}

prerequisites() {
  if [ "$(id -u)" -eq 0 ] || command -v sudo >/dev/null; then
    tools/install-prereqs.sh
  else
    echo "not root: assuming the prerequisites are installed"
  fi
}

# The unit tests, each of which ctest runs alone; their output, with any skip
# and its reason, goes to the log (-V).
native_tests() {
  local log=$logs/native.log
  rm -f "$log"
  cmake --preset native >/dev/null && cmake --build --preset native &&
    ctest --preset native -V >"$log" 2>&1
  local status=$?
  grep -E '^[0-9]+% tests passed|^Total Test time' "$log"
  sed -n '/^The following tests FAILED:/,/^Errors while running CTest/p' "$log"
  count_tests native "$log" "$status"
}

# Only system DLLs, so that the .exe runs on any Windows as it is.
check_exe() {
  tools/check-exe.sh "$1" | tee "$logs/exe.txt"
}

# check-exe.sh itself: a program that imports a DLL that is not a KnownDLL
# (VERSION.dll), which Windows would look for beside the program first, is
# refused in one line that names it.
check_exe_refuses_other_dlls() {
  local d status
  d=$(mktemp -d "${TMPDIR:-/tmp}/fq-check-exe.XXXXXX") || return 1
  printf '#include <windows.h>\nint WINAPI WinMain(HINSTANCE a, HINSTANCE b, LPSTR c, int d) {\n%s\n}\n' \
    '  return (int)GetFileVersionInfoSizeA("x", 0);' >"$d/imports-version.c"
  i686-w64-mingw32-gcc -mwindows -o "$d/imports-version.exe" "$d/imports-version.c" -lversion &&
    ! tools/check-exe.sh "$d/imports-version.exe" >/dev/null 2>"$d/refused.txt" &&
    [ "$(wc -l <"$d/refused.txt")" -eq 1 ] && grep -q 'imports VERSION.DLL, not one of the KnownDLLs' "$d/refused.txt"
  status=$?
  echo "check-exe.sh on a program importing VERSION.dll: $(cat "$d/refused.txt" 2>/dev/null)"
  rm -rf "$d"
  return "$status"
}

windows_build() {
  cmake --preset win32 >/dev/null && cmake --build --preset win32 &&
    check_exe build/win32/FQSrvUninstall.exe && check_exe_refuses_other_dlls
}

# wine_counts <run> <status>: the counts of one run, "<build>-<prefix>", from
# its Wine log (count_tests). Passed and skipped are test cases; failed, test
# programs, each of which counts once even when it died early.
wine_counts() {
  count_tests "$1" "$logs/wine-$1.log" "$2"
}

# wine_tests_here <build> <prefix>: the build's Wine tests in a prefix of that
# architecture on this machine.
wine_tests_here() {
  local preset=$1 prefix=$2
  rm -f "$logs/wine-$preset-$prefix.log"
  { [ "$preset" = win32 ] || { cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset"; }; } &&
    tools/wine-tests.sh "$preset" "$prefix"
  wine_counts "$preset-$prefix" $?
}

# The guest's image, where this kernel runs no 32-bit code: built (on the
# first run, some minutes, mostly fetching and unpacking packages) while the
# steps that need no guest run; guest_image then waits for it.
start_guest_image() {
  start_apart tools/guest/image.sh >"$logs/guest-image.out" 2>"$logs/guest-image.log"
  image_group=$!
}

guest_image() {
  local status=1
  if [ -n "$image_group" ]; then
    wait "$image_group"
    status=$?
    image_group=''
  fi
  cat "$logs/guest-image.log" 2>/dev/null
  [ "$status" -eq 0 ] && FQ_GUEST_IMAGE=$(cat "$logs/guest-image.out") && [ -n "$FQ_GUEST_IMAGE" ] &&
    export FQ_GUEST_IMAGE
}

# wine_tests_in_guest <prefix>: the win32 build's, in the guest. The programs
# were built here; the guest sees this checkout at the same path.
wine_tests_in_guest() {
  local prefix=$1
  rm -f "$logs/wine-win32-$prefix.log"
  if [ -z "${FQ_GUEST_IMAGE:-}" ]; then
    echo "no guest image to run the tests in"
    wine_counts "win32-$prefix" 1
    return
  fi
  tools/guest/run.sh --timeout 1800 -- tools/wine-tests.sh win32 "$prefix"
  wine_counts "win32-$prefix" $?
}

# The same bytes from another folder: this working tree copied elsewhere and
# built there with the same preset gives the FQSrvUninstall.exe built above.
reproducible_build() {
  local copy status ours theirs
  copy=$(mktemp -d "${TMPDIR:-/tmp}/fq-elsewhere.XXXXXX") || return 1
  tar --exclude=./build --exclude=./dist --exclude=./.git -cf - . | tar -xf - -C "$copy" &&
    (cd "$copy" && cmake --preset win32 >/dev/null &&
      cmake --build --preset win32 --target FQSrvUninstall >/dev/null)
  status=$?
  ours=$(sha256sum build/win32/FQSrvUninstall.exe | cut -d' ' -f1)
  theirs=$(sha256sum "$copy/build/win32/FQSrvUninstall.exe" 2>/dev/null | cut -d' ' -f1)
  echo "$ours  build/win32/FQSrvUninstall.exe"
  echo "${theirs:-(not built)}  $copy/build/win32/FQSrvUninstall.exe"
  rm -rf "$copy"
  [ "$status" -eq 0 ] && [ "$ours" = "$theirs" ]
}

# A throwaway authority in $1: ca.pem; the code-signing certificate
# signer.pem with its key signer.key, encrypted with the first line of
# password; and, to be refused, other.key and other-ca.pem.
make_authority() {
  local d=$1
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$d/ca.key" -out "$d/ca.pem" -days 2 \
    -subj "/CN=FQSrvUninstall test authority" &&
    echo "throwaway words" >"$d/password" &&
    openssl req -newkey rsa:2048 -keyout "$d/signer.key" -passout "file:$d/password" \
      -out "$d/signer.csr" -subj "/CN=FQSrvUninstall test signer" &&
    printf 'basicConstraints=CA:false\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' \
      >"$d/signer.ext" &&
    openssl x509 -req -in "$d/signer.csr" -CA "$d/ca.pem" -CAkey "$d/ca.key" -set_serial 1 \
      -days 2 -extfile "$d/signer.ext" -out "$d/signer.pem" &&
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$d/other-ca.key" -out "$d/other-ca.pem" \
      -days 2 -subj "/CN=another authority" &&
    openssl genpkey -algorithm RSA -out "$d/other.key"
}

# release_refuses <dir> <message> <release.sh arguments...>: it fails, says
# so, and leaves no folder behind, not even half a one.
release_refuses() {
  local d=$1 message=$2
  shift 2
  if tools/release.sh "$@" --dist "$d/refused" >"$d/refused.log" 2>&1; then
    echo "release.sh did not refuse: $*"
    return 1
  fi
  grep -qF "$message" "$d/refused.log" || { cat "$d/refused.log"; echo "not said: $message"; return 1; }
  if [ -n "$(find "$d" -maxdepth 1 -name '*refused' -o -maxdepth 1 -name '.refused.*')" ]; then
    echo "release.sh left a folder behind: $*"
    return 1
  fi
  echo "refused: $message"
}

# The release checks, in a folder of the checkout, which the guest shares.
release_checks_in() {
  local d=$1 built=build/win32/FQSrvUninstall.exe signed tampered offset byte
  make_authority "$d" 2>"$d/openssl.log" || { cat "$d/openssl.log"; return 1; }
  echo "-- unsigned"
  tools/release.sh --dist "$d/plain" | tee "$d/plain.log" | tail -n 5 &&
    grep -q 'The file is not signed' "$d/plain.log" &&
    (cd "$d/plain" && sha256sum -c SHA256SUMS) &&
    cmp "$d/plain/FQSrvUninstall.exe" "$built" || return 1
  echo "-- refused"
  release_refuses "$d" "wrong password" --cert "$d/signer.pem" --key "$d/signer.key" \
    --pass-file "$d/ca.pem" &&
    release_refuses "$d" "cannot read $d/missing.key" --cert "$d/signer.pem" --key "$d/missing.key" &&
    release_refuses "$d" "is not the key of the certificate" --cert "$d/signer.pem" \
      --key "$d/other.key" &&
    release_refuses "$d" "does not verify against $d/other-ca.pem" --cert "$d/signer.pem" \
      --key "$d/signer.key" --pass-file "$d/password" --ca "$d/other-ca.pem" || return 1
  echo "-- signed"
  signed=$d/signed/FQSrvUninstall.exe
  if ! tools/release.sh --cert "$d/signer.pem" --key "$d/signer.key" --pass-file "$d/password" \
    --ca "$d/ca.pem" --dist "$d/signed" | tee "$d/signed.log" | tail -n 6 ||
    ! grep -q "unsigned: *$(sha256sum "$built" | cut -d' ' -f1) " "$d/signed.log" ||
    ! (cd "$d/signed" && sha256sum -c SHA256SUMS) ||
    ! osslsigncode verify -CAfile "$d/ca.pem" -in "$signed" >"$d/verify.log" 2>&1 ||
    ! grep -E '^Signature verification: ok' "$d/verify.log"; then
    cat "$d/verify.log" 2>/dev/null
    return 1
  fi
  # Without its signature it is the unsigned file again, byte for byte.
  osslsigncode remove-signature -in "$signed" -out "$d/unsigned.exe" >/dev/null &&
    cmp "$d/unsigned.exe" "$built" && echo "signature removed: the unsigned file again" || return 1
  # One byte changed in the middle, in the code that the signature covers.
  tampered=$d/tampered.exe
  cp "$signed" "$tampered"
  offset=$(($(stat -c %s "$tampered") / 2))
  byte=$(od -An -tu1 -j "$offset" -N 1 "$tampered" | tr -d ' ')
  printf '%b' "\\x$(printf %02x $(((byte + 1) % 256)))" | dd of="$tampered" bs=1 seek="$offset" conv=notrunc 2>/dev/null
  if osslsigncode verify -CAfile "$d/ca.pem" -in "$tampered" >"$d/tampered.log" 2>&1 ||
    ! grep -q 'message digest.*MISMATCH' "$d/tampered.log"; then
    cat "$d/tampered.log"
    echo "a file changed after signing was not refused for its digest"
    return 1
  fi
  echo "one byte changed: $(grep -m1 'message digest.*MISMATCH' "$d/tampered.log" | tr -s ' ')"
  echo "-- the signed file under Wine"
  signed_runs_under_wine "$(realpath "$signed")"
}

# The signed file, not registered: exits 0 at once and shows nothing, as the
# unsigned one does (the scenario test, then the trace of its calls, on this
# file).
signed_runs_under_wine() {
  local dir run log=$logs/wine-signed.log
  dir=$(realpath build/win32)
  # shellcheck disable=SC2016 # expanded by the inner shell
  run=(bash -c 'tools/wine-run.sh "$1" --gtest_filter=ProgramOnWine.NoServiceEndsAtOnceShowingNothing \
    --program="$2" --fixture="$3" && tests/wine/no-service-trace.sh "$2"' -
    "$dir/tests/wine/wine_scenario_tests.exe" "$1" "$dir/tests/wine/FQFixtureService.exe")
  if tools/runs-i386.sh; then
    "${run[@]}" >"$log" 2>&1
  elif [ -n "${FQ_GUEST_IMAGE:-}" ]; then
    tools/guest/run.sh --timeout 900 -- "${run[@]}" >"$log" 2>&1
  else
    echo "no guest image to run it in"
    return 1
  fi
  local status=$?
  grep -E '^(\[ +(timing|FAILED|PASSED) |(PASSED|FAILED): )' "$log"
  if [ "$status" -ne 0 ] || ! grep -q '^\[  PASSED  \] 1 test' "$log" || ! grep -q '^PASSED: ' "$log"; then
    tail -n 40 "$log"
    return 1
  fi
}

release_checks() {
  local d status
  d=$(mktemp -d "$PWD/build/release-test.XXXXXX") || return 1
  release_checks_in "$d"
  status=$?
  rm -rf "$d"
  return "$status"
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
# group (its leader, this subshell, runs them in its own). Their output goes
# to a log, shown when they are done; their summary lines come back in a file
# of their own, written once they are all done, the unit tests' counts in
# build/logs/native.counts.
start_steps_beside_the_guest() {
  start_apart run_steps_beside_the_guest >"$logs/beside.log" 2>&1
  beside_group=$!
}

run_steps_beside_the_guest() {
  renice -n 19 -p "$BASHPID" >/dev/null
  summary=() failed=0 apart=0
  steps_that_may_wait
  printf '%s\n' "${summary[@]}" >"$logs/beside.result.new" &&
    mv "$logs/beside.result.new" "$logs/beside.result"
}

# Waits for them, shows what they said, and takes their results into the
# summary, after the prerequisites, where they would have stood.
wait_for_steps_beside_the_guest() {
  local beside_summary=()
  echo "==> unit tests, sanitizers, static analysis: run beside the guest, their output"
  wait "$beside_group"
  beside_group=''
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
  step "Wine tests (win32 build, 32-bit prefix, on this machine)" wine_tests_here win32 win32
  step "Wine tests (win32 build, 64-bit prefix: WoW64, on this machine)" wine_tests_here win32 win64
  where="on this machine"
  wine_runs=(win32-win32 win32-win64)
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
  step "Wine tests (win64 build, 64-bit prefix, on this machine)" wine_tests_here win64 win64
  step --here "guest image (built once, then cached; the wait for it)" guest_image
  step "Wine tests (win32 build, 32-bit prefix, in the guest)" wine_tests_in_guest win32
  step "Wine tests (win32 build, 64-bit prefix: WoW64, in the guest)" wine_tests_in_guest win64
  wait_for_steps_beside_the_guest
  where="in the qemu guest"
  wine_runs=(win32-win32 win32-win64 win64-win64)
fi
# The file we ship: the same bytes from another folder; tools/release.sh,
# signing included, and the signed file under Wine.
step "reproducible build (win32, in another folder)" reproducible_build
step "release: unsigned, signed, refused; signed file under Wine" release_checks

# What one run was, in words.
run_name() {
  case $1 in
    win32-win32) echo "win32 build in a 32-bit prefix $where" ;;
    win32-win64) echo "win32 build in a 64-bit prefix (WoW64) $where" ;;
    win64-win64) echo "win64 build in a 64-bit prefix on this machine" ;;
  esac
}

echo
printf '%s\n' "${summary[@]}"
verdict=PASSED
[ "$failed" -eq 0 ] || verdict=FAILED
# The closing line counts test cases; a failed step without test counts of its
# own (build, image, sanitizers, fuzzing, analysis) counts as one failure.
failed_steps=$(printf '%s\n' "${summary[@]}" | grep -c 'FAILED')
passed=0 failures=0 skipped=0 counts=''
for run in native "${wine_runs[@]}"; do
  read -r p f s < <(counts "$run")
  passed=$((passed + p)) failures=$((failures + f)) skipped=$((skipped + s))
  # A run whose failure its counts tell: failed tests, or skipped ones not let pass.
  if [ "$f" -gt 0 ] || { [ "$s" -gt 0 ] && [ "$allow_skip" != 1 ]; }; then
    failed_steps=$((failed_steps - 1))
  fi
  if [ "$run" = native ]; then
    counts="$((p + f + s)) unit tests on the stand-in"
  else
    counts="$counts; $((p + f + s)) Wine tests of the $(run_name "$run")"
  fi
  tail -n +2 "$logs/$run.counts" 2>/dev/null | sed "s/^/skipped ($run): /"
done
exe_size=$(stat -c %s build/win32/FQSrvUninstall.exe 2>/dev/null || echo '?')
echo "$verdict - $counts; FQSrvUninstall.exe (win32) $exe_size bytes; $SECONDS s in all"
if [ "$skipped" -gt 0 ] && [ "$allow_skip" != 1 ]; then
  echo "$skipped tests skipped, listed above: a skipped test fails the run (FQ_ALLOW_SKIP=1 lets skips pass)"
fi
echo "SUMMARY: $passed passed, $((failures + failed_steps)) failed, $skipped skipped ($counts)"
exit "$failed"

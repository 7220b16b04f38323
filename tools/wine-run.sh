#!/bin/bash
# Runs one Windows program under Wine; ctest uses it as the emulator of the
# win32/win64 builds. Inside tools/wine-env.sh's environment it runs in that
# prefix; otherwise it makes a throwaway prefix for this one run.
#
# Wine's own error lines (its "err" messages) are on. A program asked for a
# GoogleTest report (--gtest_output=xml:FILE) that ends with a failure and
# without it (it died early, or Wine could not start it) gets one last line
# on stderr from here: Wine's exit status, how many lines the program printed,
# and Wine's own lines, so that a failure with nothing else to show explains
# itself in the test's output, which the summary quotes.
set -u
exe=$1

# The PE header says whether the program is 32-bit (0x014c) or 64-bit (0x8664).
pe_arch() {
  local offset machine
  offset=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  machine=$(od -An -tx2 -j$((offset + 4)) -N2 "$1" | tr -d ' ')
  case $machine in
    014c) echo win32 ;;
    8664) echo win64 ;;
    *) echo unknown ;;
  esac
}

arch=$(pe_arch "$exe")
if [ "$arch" = unknown ]; then
  echo "wine-run: $exe is not a Windows program for x86 or x86-64" >&2
  exit 1
fi
own_prefix=
if [ -z "${FQ_WINE_READY:-}" ]; then
  FQ_WINE_ARCH=$arch
  source "$(dirname "$0")/wine-env.sh" || exit 1
  own_prefix=yes
fi
# A 64-bit prefix runs 32-bit programs too, as 64-bit Windows does (WoW64),
# where this machine runs 32-bit code.
wow64=
[ "$arch" = win32 ] && [ "$FQ_WINE_ARCH" = win64 ] && [ -z "${FQ_WINE_WHY:-}" ] && wow64=yes
if [ "$arch" != "$FQ_WINE_ARCH" ] && [ -z "$wow64" ]; then
  echo "wine-run: $exe is $arch, the prefix is $FQ_WINE_ARCH" >&2
  [ -n "${FQ_WINE_WHY:-}" ] && echo "wine-run: $FQ_WINE_WHY" >&2
  exit 1
fi

report=
for arg in "$@"; do
  case $arg in --gtest_output=xml:*) report=${arg#--gtest_output=xml:} ;; esac
done
[ -z "$report" ] || rm -f "$report"
export WINEDEBUG=${WINEDEBUG:+$WINEDEBUG,}err+all
# The output goes through as it comes, and into files for the note below.
out=$(mktemp) err=$(mktemp)
finish() {
  release_output
  rm -f "$out" "$err"
  [ -z "$own_prefix" ] || fq_wine_cleanup
}
# A process the program started and could not end (one that Wine left
# running past TerminateProcess) keeps the copies' pipes open, and with them
# the caller's output: ctest would wait for it until its timeout. The copies
# are given 10 s once the program has ended, then ended (they are ours), and
# whatever still holds the pipes is named.
release_output() {
  local holders='' fd pid
  for _ in $(seq 100); do
    kill -0 "${out_tee:-}" 2>/dev/null || kill -0 "${err_tee:-}" 2>/dev/null || return 0
    sleep 0.1
  done
  for fd in /proc/[0-9]*/fd/*; do
    case $(readlink "$fd" 2>/dev/null) in "$out_pipe" | "$err_pipe") ;; *) continue ;; esac
    pid=${fd#/proc/} pid=${pid%%/*}
    [ "$pid" = "$out_tee" ] || [ "$pid" = "$err_tee" ] || case " $holders " in
      *" $pid "*) ;;
      *) holders="$holders $pid" ;;
    esac
  done
  kill "$out_tee" "$err_tee" 2>/dev/null
  echo "wine-run: $(basename "$exe") ended, but its output was still held open 10 s later by:" \
    "$(for pid in $holders; do printf '%s (%s); ' "$pid" "$(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)"; done)" >&2
}
trap finish EXIT
exec 3> >(tee "$out") && out_tee=$! && out_pipe=$(readlink /proc/$$/fd/3)
exec 4> >(tee "$err" >&2) && err_tee=$! && err_pipe=$(readlink /proc/$$/fd/4)
"$FQ_WINE" "$@" >&3 2>&4 3>&- 4>&-
status=$?
exec 3>&- 4>&-
[ "$status" -ne 0 ] && [ -n "$report" ] && [ ! -f "$report" ] || exit "$status"

# What Wine says of its own: its debug lines ("err:..."), or "wine: ...".
wine_line='^([0-9a-f]+:)*(err|fixme|warn|trace):|^wine: '
release_output
printed=$(cat "$out" "$err" | grep -cvE "$wine_line")
said=$(grep -E "$wine_line" "$err" | tail -n 5 | tr -d '\r' | paste -sd '|')
echo "wine-run: $(basename "$exe") ended with Wine's exit status $status and no report;" \
  "it printed $printed lines; Wine's own lines: ${said:-none}" >&2
exit "$status"

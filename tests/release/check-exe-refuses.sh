#!/bin/bash
# tools/check-exe.sh refuses a program that imports a DLL which is not a
# KnownDLL (VERSION.dll, which Windows would look for beside the program
# first), in one line that names it.
#   tests/release/check-exe-refuses.sh PROGRAM_IMPORTING_VERSION.exe
set -uo pipefail
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"
if "$checkout/tools/check-exe.sh" "${1:?usage: $0 PROGRAM.exe}" >/dev/null 2>"$work/refused"; then
  fail "check-exe.sh took $1"
fi
cat "$work/refused"
[ "$(wc -l <"$work/refused")" -eq 1 ] || fail "not refused in one line"
grep -q 'imports VERSION.DLL, not one of the KnownDLLs' "$work/refused" || fail "VERSION.DLL not named"

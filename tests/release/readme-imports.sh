#!/bin/bash
# The imports README.md names are the program's: GetTickCount64 from
# KERNEL32, which keeps XP and Server 2003 from running it (MinGW-w64 10's
# threads library imports it; newer ones look it up at run time), and
# SetDefaultDllDirectories not imported but looked up, as Vista and 7 without
# KB2533623 lack it. A build whose imports differ makes the README wrong.
#   tests/release/readme-imports.sh PROGRAM.exe
set -uo pipefail
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"
needs i686-w64-mingw32-objdump
program=${1:?usage: $0 PROGRAM.exe}
# One line per imported function: <DLL> <name>.
i686-w64-mingw32-objdump -p "$program" | awk '
  /DLL Name:/ { dll = toupper($3); next }
  /^$/ { dll = "" }
  dll != "" && $2 ~ /^[0-9]+$/ && NF >= 3 { print dll, $3 }' >"$work/imports"
[ -s "$work/imports" ] || fail "no imports read from $program"
grep -qx 'KERNEL32.DLL GetTickCount64' "$work/imports" ||
  fail "does not import GetTickCount64 from KERNEL32: the README's reason why XP cannot run it is wrong"
if grep -q ' SetDefaultDllDirectories$' "$work/imports"; then
  fail "imports SetDefaultDllDirectories: Vista and 7 without KB2533623 could not run it"
fi
echo "imports GetTickCount64 from KERNEL32; SetDefaultDllDirectories not imported ($(wc -l <"$work/imports") functions)"

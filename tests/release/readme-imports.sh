#!/bin/bash
# The imports README.md names are the program's: GetTickCount64 from
# KERNEL32, which keeps XP and Server 2003 from running it (MinGW-w64 10's
# threads library imports it; newer ones look it up at run time), and
# SetDefaultDllDirectories not imported but looked up, as Vista and 7 without
# KB2533623 lack it. A build whose imports differ makes the README wrong.
# The README speaks of the release's build (docs/releasing.md names its
# toolchain, MinGW-w64 10): a build whose threads library looks
# GetTickCount64 up (Debian 13's MinGW-w64 12) must not import it either, and
# is said to be another toolchain's.
#   tests/release/readme-imports.sh PROGRAM.exe COMPILER
set -uo pipefail
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"
needs i686-w64-mingw32-objdump
program=${1:?usage: $0 PROGRAM.exe COMPILER}
compiler=${2:?usage: $0 PROGRAM.exe COMPILER}
threads=$("$compiler" -print-file-name=libwinpthread.a)
[ -f "$threads" ] || fail "$compiler has no threads library (libwinpthread.a)"
# One line per imported function: <DLL> <name>. Each is "<vma> <hint> <name>"
# (binutils 2.40), or "<vma> <ordinal> <hint> <name>" (2.44, Debian 13).
i686-w64-mingw32-objdump -p "$program" | awk '
  /DLL Name:/ { dll = toupper($3); next }
  /^$/ { dll = "" }
  dll != "" && $1 ~ /^[0-9a-f]+$/ && NF >= 3 { print dll, $NF }' >"$work/imports"
[ -s "$work/imports" ] || fail "no imports read from $program"
if grep -q ' SetDefaultDllDirectories$' "$work/imports"; then
  fail "imports SetDefaultDllDirectories: Vista and 7 without KB2533623 could not run it"
fi
if i686-w64-mingw32-nm "$threads" | grep ' U __imp__GetTickCount64@0$' >/dev/null; then
  grep -qx 'KERNEL32.DLL GetTickCount64' "$work/imports" ||
    fail "does not import GetTickCount64 from KERNEL32: the README's reason why XP cannot run it is wrong"
  echo "imports GetTickCount64 from KERNEL32; SetDefaultDllDirectories not imported ($(wc -l <"$work/imports") functions)"
else
  if grep -qx 'KERNEL32.DLL GetTickCount64' "$work/imports"; then
    fail "imports GetTickCount64, which this toolchain's threads library does not: something the README does not name does"
  fi
  echo "neither GetTickCount64 (this toolchain's threads library looks it up) nor" \
    "SetDefaultDllDirectories imported ($(wc -l <"$work/imports") functions): the README's" \
    "XP statements are those of the release's toolchain, not this one's (docs/releasing.md)"
fi

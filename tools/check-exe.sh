#!/bin/sh
# Checks that a build of FQSrvUninstall.exe is what we ship: a 32-bit Windows
# GUI program (PE32) that imports only DLLs every Windows has, so that it runs
# on any Windows as it is, and only KnownDLLs among them, which Windows maps
# from the system directory whatever lies beside the program (it runs
# elevated, often from a folder that others may write). Prints what it found;
# exits 1 when it is not so.
#   tools/check-exe.sh FILE
# tools/test.sh and tools/release.sh both check the program with it.
set -u
exe=${1:?usage: tools/check-exe.sh FILE}
kind=$(file -b "$exe") || exit 1
echo "$exe: $kind"
case $kind in
  "PE32 executable (GUI) Intel 80386"*) ;;
  *) echo "check-exe: not a 32-bit Windows GUI program" >&2 && exit 1 ;;
esac
imports=$(i686-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ { print toupper($3) }' | sort)
[ -n "$imports" ] || { echo "check-exe: no imports found" >&2 && exit 1; }
echo "imports:" $imports
known="KERNEL32.DLL USER32.DLL GDI32.DLL ADVAPI32.DLL MSVCRT.DLL"
for dll in $imports; do
  case " $known " in
    *" $dll "*) ;;
    *) echo "check-exe: imports $dll, not one of the KnownDLLs we accept ($known)" >&2 && exit 1 ;;
  esac
done

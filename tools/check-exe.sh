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
[ -f "$exe" ] || { echo "check-exe: no file $exe" >&2 && exit 1; }
# The kind, from the PE header as the toolchain's objdump reads it (file(1)
# words it differently from one release to the next): its format, the
# optional header's magic (010b: PE32) and the subsystem (2: Windows GUI).
header=$(i686-w64-mingw32-objdump -f -p "$exe" 2>/dev/null)
format=$(echo "$header" | sed -n 's/.*file format //p' | head -n 1)
magic=$(echo "$header" | awk '$1 == "Magic" { print $2 }')
subsystem=$(echo "$header" | awk '$1 == "Subsystem" { print $2 }')
echo "$exe: ${format:-not PE}, magic ${magic:-none}, subsystem ${subsystem:-none}"
if [ "$format" != pei-i386 ] || [ "$magic" != 010b ] || [ "$subsystem" != 00000002 ]; then
  echo "check-exe: not a 32-bit Windows GUI program" >&2 && exit 1
fi
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

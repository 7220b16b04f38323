#!/bin/bash
# Runs one Windows program under Wine; ctest uses it as the emulator of the
# win32/win64 builds. Inside tools/wine-env.sh's environment it runs in that
# prefix; otherwise it makes a throwaway prefix for this one run.
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
if [ -z "${FQ_WINE_READY:-}" ]; then
  FQ_WINE_ARCH=$arch
  source "$(dirname "$0")/wine-env.sh" || exit 1
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
"$FQ_WINE" "$@"

#!/bin/bash
# Shows the 32-bit FQSrvUninstall.exe, the program we ship, at work under
# Wine: builds it, makes a throwaway Wine prefix with a running demo "FQ"
# service (our fixture service), runs the program on a virtual display, takes
# a screenshot while its window is up, and says what happened.
#   tools/demo.sh     (as root it first installs what is missing)
# Where this machine's kernel runs no 32-bit x86 code, all of that happens in
# an emulated Debian machine that does (tools/guest/); its image is built on
# the first run, which takes some minutes more, and cached.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
out=build/demo
mkdir -p "$out"
rm -f "$out"/*.png
shot=$out/FQSrvUninstall-demo.png  # the whole screen; -window.png: the window alone

if [ "$(id -u)" -eq 0 ] || command -v sudo >/dev/null; then tools/install-prereqs.sh demo || exit 1; fi

echo "Building FQSrvUninstall.exe (win32)..."
{ cmake --preset win32 && cmake --build --preset win32 --target FQSrvUninstall FQFixtureService; } \
  >"$out/build.log" 2>&1 || { tail -n 30 "$out/build.log"; exit 1; }

if tools/runs-i386.sh; then
  where="this machine"
  tools/demo-wine.sh
else
  where="a qemu guest (this kernel runs no 32-bit x86 code)"
  echo "This kernel runs no 32-bit x86 code: the demo runs in an emulated Debian machine."
  tools/guest/run.sh --timeout 600 -- tools/demo-wine.sh  # builds the image on first use
fi
code=$?

[ -s "$out/screen.xwd" ] && convert "xwd:$out/screen.xwd" "$shot" 2>/dev/null
[ -s "$out/window.xwd" ] && convert "xwd:$out/window.xwd" "$out/FQSrvUninstall-window.png" 2>/dev/null
echo "  ran on:           $where"
if [ -s "$shot" ]; then
  echo "  screenshot:       $(realpath "$shot")"
else
  echo "  screenshot:       none taken"
fi
exit "$code"

#!/bin/bash
# Shows FQSrvUninstall.exe at work under Wine: builds it, makes a throwaway
# Wine prefix with a running demo "FQ" service (our fixture service), runs the
# program on a virtual display, takes a screenshot while its window is up, and
# says what happened.
#   tools/demo.sh     (as root it first installs what is missing)
set -uo pipefail
cd "$(dirname "$0")/.."
out=build/demo
mkdir -p "$out"
shot=$out/FQSrvUninstall-demo.png  # the whole screen; -window.png: the window alone

if [ "$(id -u)" -eq 0 ] || command -v sudo >/dev/null; then tools/install-prereqs.sh || exit 1; fi

source tools/wine-env.sh || exit 1
preset=$FQ_WINE_ARCH
[ "$preset" = win64 ] && echo "Wine cannot run 32-bit programs here ($FQ_WINE_WHY); showing the 64-bit build."
echo "Building ($preset)..."
{ cmake --preset "$preset" && cmake --build --preset "$preset" --target FQSrvUninstall FQFixtureService; } \
  >"$out/build.log" 2>&1 || { tail -n 30 "$out/build.log"; exit 1; }

winpath() { echo "Z:$(realpath "$1")" | tr / '\\'; }
program=$(winpath "build/$preset/FQSrvUninstall.exe")
fixture=$(winpath "build/$preset/tests/wine/FQFixtureService.exe")
log=$WINEPREFIX/drive_c/fq-demo.log
sc() { "$FQ_WINE" sc "$@" 2>/dev/null | tr -d '\r'; }

# The demo service stays stop-pending for a second, as real services do.
sc create FQ binPath= "$fixture --log C:\\fq-demo.log --stop-pending 1000" >/dev/null
sc start FQ >/dev/null
for _ in $(seq 100); do sc query FQ | grep -q RUNNING && break; sleep 0.1; done
echo "Demo service FQ: $(sc query FQ | awk '/STATE/ {print $4}')"

echo "Running FQSrvUninstall.exe..."
started=$(date +%s%N)
"$FQ_WINE" "$program" &
pid=$!

# Wait for the window on the X display, then photograph the screen.
window=
for _ in $(seq 100); do
  window=$(xdotool search --onlyvisible --name '^Uninstall$' 2>/dev/null | head -n1)
  [ -n "$window" ] && break
  sleep 0.05
done
sleep 0.3
import -window root "$shot" 2>/dev/null
[ -n "$window" ] && import -window "$window" "$out/FQSrvUninstall-window.png" 2>/dev/null

wait "$pid"
code=$?
elapsed=$((($(date +%s%N) - started) / 1000000))

echo
echo "What happened:"
if [ -n "$window" ]; then echo "  window shown:     yes (\"Uninstall\")"; else echo "  window shown:     not seen"; fi
if grep -q '^STOP' "$log" 2>/dev/null; then echo "  stop sent:        yes (the service logged STOP)"; else echo "  stop sent:        no"; fi
if sc query FQ | grep -q 'STATE'; then echo "  service removed:  no"; else echo "  service removed:  yes (FQ is no longer registered)"; fi
echo "  exit code:        $code"
echo "  time:             $elapsed ms"
echo "  screenshot:       $(realpath "$shot")"
[ "$code" -eq 0 ]

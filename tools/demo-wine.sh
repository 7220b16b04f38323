#!/bin/bash
# The part of tools/demo.sh that runs under Wine, on this machine or in the
# guest (tools/guest/run.sh): makes a throwaway prefix with a running demo
# "FQ" service (our fixture service), runs the 32-bit FQSrvUninstall.exe,
# built already, on a virtual display, photographs the screen while its
# window is up (build/demo/*.xwd) and says what happened.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
out=build/demo
build=build/win32
mkdir -p "$out"
rm -f "$out"/*.xwd

FQ_WINE_ARCH=win32
source tools/wine-env.sh || exit 1

winpath() { echo "Z:$(realpath "$1")" | tr / '\\'; }
program=$(winpath "$build/FQSrvUninstall.exe")
fixture=$(winpath "$build/tests/wine/FQFixtureService.exe")
log=$WINEPREFIX/drive_c/fq-demo.log
sc() { "$FQ_WINE" sc "$@" 2>/dev/null | tr -d '\r'; }

# The demo service stays stop-pending for a second, as real services do.
sc create FQ binPath= "$fixture --log C:\\fq-demo.log --stop-pending 1000" >/dev/null
sc start FQ >/dev/null
for _ in $(seq 100); do sc query FQ | grep -q RUNNING && break; sleep 0.1; done
echo "Demo service FQ: $(sc query FQ | awk '/STATE/ {print $4}')"

echo "Running FQSrvUninstall.exe..."
started=$(date +%s%N)
# Wine keeps no event log: it writes each string of the event the program
# leaves to its debug output, one a line, an error's as err:eventlog, a
# warning's as warn:eventlog, other types' as trace:eventlog, with the call's
# arguments (the event ID 4th) in a fixme line of ReportEventA.
WINEDEBUG=-all,+eventlog,fixme+advapi "$FQ_WINE" "$program" 2>"$out/wine-debug.log" &
pid=$!

# Wait for the window on the X display, then photograph the screen.
window=
for _ in $(seq 200); do
  window=$(xdotool search --onlyvisible --name '^Uninstall$' 2>/dev/null | head -n1)
  [ -n "$window" ] && break
  sleep 0.05
done
sleep 0.3
xwd -root -silent >"$out/screen.xwd" 2>/dev/null
[ -n "$window" ] && xwd -id "$window" -silent >"$out/window.xwd" 2>/dev/null

wait "$pid"
code=$?
elapsed=$((($(date +%s%N) - started) / 1000000))

echo
echo "What happened:"
if [ -n "$window" ]; then echo "  window shown:     yes (\"Uninstall\")"; else echo "  window shown:     not seen"; fi
if grep -q '^STOP' "$log" 2>/dev/null; then echo "  stop sent:        yes (the service logged STOP)"; else echo "  stop sent:        no"; fi
if sc query FQ | grep -q 'STATE'; then echo "  service removed:  no"; else echo "  service removed:  yes (FQ is no longer registered)"; fi
tr -d '\r' <"$out/wine-debug.log" | awk '
  function hex(text,    n, i) {
    sub(/^[^x]*x/, "", text)
    for (i = 1; i <= length(text); i++) n = n * 16 + index("0123456789abcdef", tolower(substr(text, i, 1))) - 1
    return n
  }
  /:fixme:advapi:ReportEventA / { split($0, arg, ","); id = hex(arg[4]); count = hex(arg[6]) }
  /:(err|warn|trace):eventlog:ReportEventW L"/ {
    type = /:err:/ ? "Error" : /:warn:/ ? "Warning" : "Information"
    text = $0; sub(/^[^"]*"/, "", text); sub(/"$/, "", text)
    # Its text first, then its fields, one string a line.
    if (++strings == 1) printf "  event:            %s %s: %s\n", type, id == "" ? "?" : id, text
    else fields = fields (strings == 2 ? "" : " | ") text
  }
  END {
    if (!strings) print "  event:            none written"
    if (strings > 1) printf "  its fields:       %s\n", fields
    # Wine 10 traces no empty string: say so rather than shift the fields.
    if (strings > 1 && count > strings)
      printf "                    (%d of %d left out: this Wine traces no empty string)\n", count - strings, count - 1
  }'
echo "  exit code:        $code"
echo "  time:             $elapsed ms"
[ "$code" -eq 0 ]

#!/bin/bash
# Measures FQSrvUninstall.exe and prints one table: the size and imports of
# the 32-bit product, then, under Wine, its start-to-exit times and peak
# memory against programs of ours that do nothing, and against itself built
# without its event log entry (medians of N runs, all measured in one go by
# tests/bench/FQBench.cpp).
#   tools/bench.sh [runs]     (default 7; the raw runs go to build/bench/runs.txt)
# Wine runs the 32-bit build where this machine can execute 32-bit x86 code,
# else the same sources built for 64-bit Windows; the table says which. It
# always runs here, never in the emulated guest of tools/guest/, whose times
# would say nothing of the program's.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
runs=${1:-7}
if ! [[ $runs =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: tools/bench.sh [runs]   (runs: a positive whole number, default 7)" >&2
  exit 2
fi
out=build/bench
mkdir -p "$out"
build_log=$out/build.log
: >"$build_log"

build() {  # build <preset> <target>...
  local preset=$1
  shift
  { cmake --preset "$preset" && cmake --build --preset "$preset" --target "$@"; } \
    >>"$build_log" 2>&1 || { tail -n 30 "$build_log" >&2; echo "bench: the $preset build failed" >&2; exit 1; }
}

# The product is always the 32-bit build: its size and imports are the ones that ship.
echo "Building (win32)..." >&2
build win32 FQSrvUninstall FQSrvUninstallWithoutEvents
product=build/win32/FQSrvUninstall.exe
without_entry=build/win32/tests/bench/FQSrvUninstallWithoutEvents.exe

source tools/wine-env.sh || exit 1
arch=$FQ_WINE_ARCH
if [ "$arch" = win32 ]; then
  timed_note="the win32 build, the product itself"
else
  timed_note="the win64 build of the same sources, on this machine: $FQ_WINE_WHY"
fi
echo "Building ($arch)..." >&2
build "$arch" FQSrvUninstall FQFixtureService FQBench FQEmpty FQEmptyWindow \
  FQSrvUninstallWithoutEvents

echo "Measuring: $runs rounds of 9 starts under Wine ($arch)..." >&2
dir=$(realpath "build/$arch")
# NET prints its progress on the console it inherits: only "run" lines count.
if ! "$FQ_WINE" "$dir/tests/bench/FQBench.exe" --runs="$runs" --program="$dir/FQSrvUninstall.exe" \
  --empty="$dir/tests/bench/FQEmpty.exe" --window="$dir/tests/bench/FQEmptyWindow.exe" \
  --fixture="$dir/tests/wine/FQFixtureService.exe" \
  --without-events="$dir/tests/bench/FQSrvUninstallWithoutEvents.exe" >"$out/all.txt"; then
  echo "bench: the measurement failed" >&2
  exit 1
fi
grep -e '^run ' -e '^call ' "$out/all.txt" | tr -d '\r' >"$out/runs.txt"

# middle: the median of the numbers on its input, one a line; fails without any.
middle() {
  sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) exit 1; print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
# median <case> <field>: field 3 is milliseconds, 4 the peak working set, 5 the peak pagefile use.
median() {
  awk -v c="$1" -v f="$2" '$2 == c { print $f }' "$out/runs.txt" | middle
}
# differences <case> <other>: in milliseconds, the nth run of one less the
# nth of the other, taken in the same round, one a line.
differences() {
  awk -v a="$1" -v b="$2" '$2 == a { x[++n] = $3 } $2 == b { y[++m] = $3 }
    END { for (i = 1; i <= n && i <= m; i++) print x[i] - y[i] }' "$out/runs.txt"
}
# paired <case> <other>: the median of those differences.
paired() { differences "$1" "$2" | middle; }
# spread <case> <other>: the middle half of those differences, "q1 to q3".
spread() {
  differences "$1" "$2" | sort -g |
    awk '{ v[NR] = $1 } END { printf "%.1f to %.1f", v[int((NR + 3) / 4)], v[int((3 * NR + 1) / 4)] }'
}
# call <name>: the median of the calls of that name timed alone.
call() { awk -v c="$1" '$1 == "call" && $2 == c { print $3 }' "$out/runs.txt" | middle; }
declare -A ms ws pf events
for c in empty window none stopped running netstop none-noevents stopped-noevents running-noevents; do
  ms[$c]=$(median "$c" 3) && ws[$c]=$(median "$c" 4) && pf[$c]=$(median "$c" 5) ||
    { echo "bench: no runs of $c" >&2; exit 1; }
done
for c in none stopped running; do
  events[$c]=$(paired "$c" "$c-noevents") || { echo "bench: no pairs of $c" >&2; exit 1; }
done
# The calls added for the event, timed alone.
state=$(call state) && user=$(call user) && output=$(call output) && look=$(call look) ||
  { echo "bench: no timed calls" >&2; exit 1; }

calc() { awk "BEGIN { printf \"$1\", $2 }"; }
verdict() { awk "BEGIN { print ($1) ? \"met\" : \"MISSED\" }"; }
mib() { calc '%.1f' "$1 / 1048576"; }
added=$(calc '%.3f' "$state + $user + $output + $look")

size=$(stat -c %s "$product")
size_without=$(stat -c %s "$without_entry")
imports=$(i686-w64-mingw32-objdump -p "$product" | awk '/DLL Name:/ { print $3 }' | sort -f)
system_only=met
tools/check-exe.sh "$product" >/dev/null 2>"$out/check-exe.txt" || system_only="MISSED: $(cat "$out/check-exe.txt")"

E=${ms[empty]} W=${ms[window]} N=${ms[none]} S=${ms[stopped]} R=${ms[running]} C=${ms[netstop]}
row() { printf '%-2s %-52s %-40s %-12s %s\n' "$@"; }
grouped() { echo "$1" | sed ':a; s/\B[0-9]\{3\}\>/,&/; ta'; }

echo
echo "FQSrvUninstall benchmark: medians of $runs runs each, measured in one go, $("$FQ_WINE" --version)"
echo "Timed under Wine: $timed_note"
echo
row "" "What" "Value" "Target" ""
row "" "----" "-----" "------" ""
row "" "size of $product" "$(grouped "$size") bytes ($(calc '%.1f' "$size / 1024") KiB)" "<= 300 KiB" \
  "$(verdict "$size <= 300 * 1024")"
row "" "  the same built without its event log entry" \
  "$(grouped "$size_without") bytes ($(calc '%.1f' "$size_without / 1024") KiB)" "" ""
row "" "DLLs it imports (.dll)" "$(echo $imports | sed 's/\.dll//gI')" "system only" "$system_only"
row E "empty program (WinMain returns 0), start to exit" "$(calc '%.1f ms' "$E")" "" ""
row W "empty program with one hidden window, our manifest" "$(calc '%.1f ms' "$W")" "" ""
row N "FQSrvUninstall.exe, no FQ registered" "$(calc '%.1f ms' "$N")" "" ""
row "" "  N - W: its own work when there is nothing to do" "$(calc '%.1f ms' "$N - $W")" "<= 50 ms" \
  "$(verdict "$N - $W <= 50")"
row "" "  ratio N / E (a window is Wine's cost, see README)" "$(calc '%.2f' "$N / $E")" "" ""
row S "FQSrvUninstall.exe, FQ stopped" "$(calc '%.1f ms' "$S")" "" ""
row "" "  overhead S - 1000 ms pause - W" "$(calc '%.1f ms' "$S - 1000 - $W")" "<= 75 ms" \
  "$(verdict "$S - 1000 - $W <= 75")"
row "" "  overhead S - 1000 ms pause - E" "$(calc '%.1f ms' "$S - 1000 - $E")" "" ""
row R "FQSrvUninstall.exe, FQ running" "$(calc '%.1f ms' "$R")" "" ""
row C "CMD.EXE /C NET STOP FQ alone, FQ running" "$(calc '%.1f ms' "$C")" "" ""
row "" "  overhead R - 2100 ms pauses - C - W" "$(calc '%.1f ms' "$R - 2100 - $C - $W")" "<= 75 ms" \
  "$(verdict "$R - 2100 - $C - $W <= 75")"
row "" "  overhead R - 2100 ms pauses - C - E" "$(calc '%.1f ms' "$R - 2100 - $C - $E")" "" ""
row "" "event log entry: N - N without it (no call made)" \
  "$(calc '%.1f ms' "${events[none]}") (half within $(spread none none-noevents))" "0 + noise" ""
row "" "  S - S without it (an information entry)" \
  "$(calc '%.1f ms' "${events[stopped]}") (half within $(spread stopped stopped-noevents))" "" ""
row "" "  R - R without it (an information entry)" \
  "$(calc '%.1f ms' "${events[running]}") (half within $(spread running running-noevents))" "" ""
row "" "calls added to S and R, timed alone: FQ's state" "$(calc '%.3f ms' "$state")" "" ""
row "" "  the token's user (for the event)" "$(calc '%.3f ms' "$user")" "" ""
row "" "  NET's output kept, not the null device (R only)" "$(calc '%.3f ms' "$output")" "" ""
row "" "  one more look at FQ's key once deleted" "$(calc '%.3f ms' "$look")" "" ""
row "" "  all four, added to S and R at most" "$(calc '%.3f ms' "$added")" "<= 5 ms" \
  "$(verdict "$added <= 5")"
row "" "  medians without it, N / S / R" \
  "$(calc '%.1f' "${ms[none-noevents]}") / $(calc '%.1f' "${ms[stopped-noevents]}") / $(calc '%.1f ms' "${ms[running-noevents]}")" "" ""
row "" "peak working set, N / S / R" \
  "$(mib "${ws[none]}") / $(mib "${ws[stopped]}") / $(mib "${ws[running]}") MiB" "" ""
row "" "  E / W" "$(mib "${ws[empty]}") / $(mib "${ws[window]}") MiB" "" ""
row "" "peak pagefile use, N / S / R" \
  "$(mib "${pf[none]}") / $(mib "${pf[stopped]}") / $(mib "${pf[running]}") MiB" "" ""
row "" "  E / W" "$(mib "${pf[empty]}") / $(mib "${pf[window]}") MiB" "" ""
echo
echo "Pauses of the program: 1000 ms before the deletion; when FQ was not stopped, also 1000 ms"
echo "after the stop command and 100 ms after waiting for it (2100 ms). C is the stop's own cost:"
echo "CMD.EXE and NET.EXE under Wine, and the service stopping. The targets are against W, which"
echo "pays what any program with a window pays under Wine; the figures against E are for information."
echo "The event log entry's cost is the median of the differences between the program and the same"
echo "sources built without the entry (tests/bench/FQNoEventLog.cpp), run after it in each round:"
echo "its text, the token's user and the three calls; half of the differences lie within the range"
echo "given. FQ's state, asked on its handle once deleted, NET's output kept and the one more look"
echo "at FQ are made by both builds: they and the token's user are also timed alone,"
echo "$(grep -c '^call state' "$out/runs.txt") calls each, as the program makes them."
echo "Without FQ the program makes none of these calls, so N's difference is the noise of the"
echo "measurement (UninstallTest.NotRegistered_EndsSilentlyWithoutShowingAnything)."
echo "Raw runs: $out/runs.txt"

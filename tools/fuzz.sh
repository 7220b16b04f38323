#!/bin/sh
# Fuzzes the registry reader and the service configuration record on the
# stand-in, with ASan, LeakSanitizer and UBSan, for a bounded time.
#
#   tools/fuzz.sh [seconds]    seconds per target, default 30; both run at once
#
# The short default run belongs to the test command. For a real hunt give it
# longer, e.g. tools/fuzz.sh 3600. Each target starts from a copy of its seed
# corpus, tests/fuzz/corpus/<target> (written by tests/fuzz/make_corpus.py);
# inputs it finds on the way stay in a temporary directory, so the committed
# corpus never changes. A crash, leak, timeout or broken invariant fails the
# run, and the input that caused it is kept in build/fuzz/artifacts/; replay
# it with build/fuzz/tests/fuzz/fuzz_<target> <that file>.
set -eu
seconds=${1:-30}
cd "$(dirname "$0")/.."

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
artifacts=build/fuzz/artifacts
mkdir -p "$artifacts"

# fuzz <target>: runs one target in the background; its output goes to a log.
fuzz() {
  mkdir -p "$work/$1"
  cp tests/fuzz/corpus/"$1"/* "$work/$1/"
  build/fuzz/tests/fuzz/fuzz_"$1" "$work/$1" -max_total_time="$seconds" -max_len=4096 \
    -timeout=10 -artifact_prefix="$artifacts/$1-" -print_final_stats=1 >"$work/$1.log" 2>&1 &
}

# verdict <target> <pid>: waits for it, then one line when clean, the log's
# tail when not.
verdict() {
  if wait "$2"; then
    echo "fuzz_$1: clean, $(grep -o 'Done [0-9]* runs in [0-9]* second(s)' "$work/$1.log")"
  else
    echo "fuzz_$1: FAILED" >&2
    tail -n 60 "$work/$1.log" >&2
    return 1
  fi
}

fuzz registry_reader
registry=$!
fuzz service_config
service=$!
failed=0
verdict registry_reader "$registry" || failed=1
verdict service_config "$service" || failed=1
exit "$failed"

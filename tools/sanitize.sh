#!/bin/sh
# The unit tests on the stand-in, built with AddressSanitizer (leak checks on)
# and UndefinedBehaviorSanitizer; any report fails the run.
# Usage: tools/sanitize.sh    (builds in build/asan)
set -eu
cd "$(dirname "$0")/.."
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan --parallel "$(nproc 2>/dev/null || echo 2)"

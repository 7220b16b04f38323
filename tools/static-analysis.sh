#!/bin/sh
# Static analysis of our own code (units, stand-in, unit tests, fuzz targets):
# clang-tidy with the checks of .clang-tidy, then cppcheck, then shellcheck on
# the scripts, then the links of README.md and docs/. Any finding fails.
# A finding that is not a fault is suppressed where it occurs, with the reason.
# Usage: tools/static-analysis.sh    (compile commands from build/analysis)
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
log=$(mktemp)
trap 'rm -f "$log"' EXIT

# Configure only: the compile commands are all both tools need.
cmake --preset analysis >/dev/null
own="$(pwd)/(app|eventlog|platform|process|registry|service|ui|tests)/"

echo "clang-tidy ..."
if ! run-clang-tidy -quiet -p build/analysis -j "$jobs" "$own" >"$log" 2>&1; then
  grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$' "$log" >&2
  echo "clang-tidy: findings above" >&2
  exit 1
fi
echo "clang-tidy: clean"

echo "cppcheck ..."
# cppcheck 2.11 and later (Debian 13's) stop following branches past a
# limit unless told, saying so for each file; this code is small enough for
# all of them. 2.10 (Debian 12's) follows them all and knows no such option.
exhaustive=
if cppcheck --help | grep -q -- --check-level; then exhaustive=--check-level=exhaustive; fi
cppcheck --project=build/analysis/compile_commands.json --std=c++17 --library=googletest \
  --enable=warning,performance,portability --inline-suppr --error-exitcode=1 --quiet \
  ${exhaustive:+"$exhaustive"} \
  -j "$jobs" --template='{file}:{line}: {severity} ({id}): {message}'
echo "cppcheck: clean"

echo "shellcheck ..."
git ls-files -z '*.sh' .ci/run | xargs -0 shellcheck -S warning -f gcc
echo "shellcheck: clean"

echo "links ..."
tools/check-links.sh

#!/bin/bash
# The same bytes from another folder: these sources, copied elsewhere and
# built there with the same preset, give the program built here.
#   tests/release/reproducible-build.sh build/win32/FQSrvUninstall.exe
set -uo pipefail
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"
built=${1:?usage: $0 build/win32/FQSrvUninstall.exe}
mkdir "$work/copy"
(cd "$checkout" && tar --exclude=./build --exclude=./dist --exclude=./.git -cf - .) |
  tar -xf - -C "$work/copy" || fail "cannot copy the sources"
if ! (cd "$work/copy" && cmake --preset win32 && cmake --build --preset win32 --target FQSrvUninstall) \
  >"$work/build.log" 2>&1; then
  tail -n 30 "$work/build.log"
  fail "the copy does not build"
fi
ours=$(sha256sum "$built" | cut -d' ' -f1)
theirs=$(sha256sum "$work/copy/build/win32/FQSrvUninstall.exe" | cut -d' ' -f1)
echo "$ours  $built"
echo "$theirs  $work/copy/build/win32/FQSrvUninstall.exe"
[ "$ours" = "$theirs" ] || fail "another folder builds other bytes"

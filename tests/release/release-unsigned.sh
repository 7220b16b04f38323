#!/bin/bash
# tools/release.sh without a certificate: it says that the file is not
# signed, its SHA256SUMS checks, the file is the program tested, and the
# self-test kit beside it holds that file.
#   tests/release/release-unsigned.sh build/win32/FQSrvUninstall.exe
set -uo pipefail
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"
built=${1:?usage: $0 build/win32/FQSrvUninstall.exe}
"$checkout/tools/release.sh" --dist "$work/dist" >"$work/release.log" 2>&1 ||
  { cat "$work/release.log"; fail "release.sh failed"; }
tail -n 5 "$work/release.log"
grep -q 'The file is not signed' "$work/release.log" || fail "it does not say that the file is not signed"
(cd "$work/dist" && sha256sum -c SHA256SUMS) || fail "SHA256SUMS does not check"
cmp "$work/dist/FQSrvUninstall.exe" "$built" || fail "it is not the program tested"
kit_holds_the_release "$work/dist"

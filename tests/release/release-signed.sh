#!/bin/bash
# tools/release.sh with a throwaway authority's certificate: the signed file
# verifies against that authority, its SHA256SUMS checks, the release names
# the program tested as the unsigned file, the signature removed gives that
# program back byte for byte, one byte changed fails verification, and the
# self-test kit beside it holds the signed file. The
# signed file stays in SIGNED_DIR, for the test that runs it.
#   tests/release/release-signed.sh build/win32/FQSrvUninstall.exe SIGNED_DIR
set -uo pipefail
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"
built=${1:?usage: $0 build/win32/FQSrvUninstall.exe SIGNED_DIR}
dist=${2:?usage: $0 build/win32/FQSrvUninstall.exe SIGNED_DIR}
needs openssl osslsigncode
make_authority "$work"
rm -rf "$dist"
"$checkout/tools/release.sh" --cert "$work/signer.pem" --key "$work/signer.key" \
  --pass-file "$work/password" --ca "$work/ca.pem" --dist "$dist" >"$work/release.log" 2>&1 ||
  { cat "$work/release.log"; fail "release.sh failed"; }
tail -n 6 "$work/release.log"
signed=$dist/FQSrvUninstall.exe
grep -q "unsigned: *$(sha256sum "$built" | cut -d' ' -f1) " "$work/release.log" ||
  fail "the unsigned hash is not the program tested"
(cd "$dist" && sha256sum -c SHA256SUMS) || fail "SHA256SUMS does not check"
kit_holds_the_release "$dist"
osslsigncode verify -CAfile "$work/ca.pem" -in "$signed" >"$work/verify.log" 2>&1
grep -E '^Signature verification: ok' "$work/verify.log" ||
  { cat "$work/verify.log"; fail "the signature does not verify"; }

osslsigncode remove-signature -in "$signed" -out "$work/unsigned.exe" >/dev/null &&
  cmp "$work/unsigned.exe" "$built" || fail "without its signature it is not the program tested"
echo "signature removed: the program tested again"

# One byte changed in the middle, in the code that the signature covers.
tampered=$work/tampered.exe
cp "$signed" "$tampered"
offset=$(($(stat -c %s "$tampered") / 2))
byte=$(od -An -tu1 -j "$offset" -N 1 "$tampered" | tr -d ' ')
printf '%b' "\\x$(printf %02x $(((byte + 1) % 256)))" |
  dd of="$tampered" bs=1 seek="$offset" conv=notrunc 2>/dev/null
if osslsigncode verify -CAfile "$work/ca.pem" -in "$tampered" >"$work/tampered.log" 2>&1 ||
  ! grep -q 'message digest.*MISMATCH' "$work/tampered.log"; then
  cat "$work/tampered.log"
  fail "a file changed after signing was not refused for its digest"
fi
echo "one byte changed: $(grep -m1 'message digest.*MISMATCH' "$work/tampered.log" | tr -s ' ')"

#!/bin/bash
# tools/release.sh refuses a wrong password, a key it cannot read, a key of
# another certificate and a signature that does not verify against the
# authority given: each in plain words, leaving no folder behind, not even
# half a one.
set -uo pipefail
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"
needs openssl osslsigncode
make_authority "$work"

# refused <message> <release.sh arguments...>
refused() {
  local message=$1
  shift
  if "$checkout/tools/release.sh" "$@" --dist "$work/refused" >"$work/refused.log" 2>&1; then
    fail "release.sh did not refuse: $*"
  fi
  grep -qF "$message" "$work/refused.log" || { cat "$work/refused.log"; fail "not said: $message"; }
  if [ -n "$(find "$work" -maxdepth 1 \( -name refused -o -name '.refused.*' \))" ]; then
    fail "release.sh left a folder behind: $*"
  fi
  echo "refused: $message"
}

refused "wrong password" --cert "$work/signer.pem" --key "$work/signer.key" --pass-file "$work/ca.pem"
refused "cannot read $work/missing.key" --cert "$work/signer.pem" --key "$work/missing.key"
refused "is not the key of the certificate" --cert "$work/signer.pem" --key "$work/other.key"
refused "does not verify against $work/other-ca.pem" --cert "$work/signer.pem" \
  --key "$work/signer.key" --pass-file "$work/password" --ca "$work/other-ca.pem"

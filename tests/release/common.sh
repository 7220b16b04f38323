# shellcheck shell=bash
# Sourced by the release tests: the checkout, a folder of the test's own that
# goes with it, skipping for want of a tool, and a throwaway authority.
# shellcheck disable=SC2034 # used by the scripts that source this
checkout=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/fq-release-test.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT

# needs <command...>: exits 77, which ctest counts as a skip, naming what is
# missing and where it was asked for.
needs() {
  local tool
  for tool in "$@"; do
    if ! command -v "$tool" >/dev/null; then
      echo "no $tool here: not checked ($(basename "$0"):${BASH_LINENO[0]})"
      exit 77
    fi
  done
}

# fail <message>: says why, and fails the test.
fail() {
  echo "FAILED: $*"
  exit 1
}

# make_authority <dir>: ca.pem; the code-signing certificate signer.pem with
# its key signer.key, encrypted with the first line of password; and, to be
# refused, other.key and other-ca.pem.
make_authority() {
  local d=$1
  {
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$d/ca.key" -out "$d/ca.pem" -days 2 \
      -subj "/CN=FQSrvUninstall test authority" &&
      echo "throwaway words" >"$d/password" &&
      openssl req -newkey rsa:2048 -keyout "$d/signer.key" -passout "file:$d/password" \
        -out "$d/signer.csr" -subj "/CN=FQSrvUninstall test signer" &&
      printf 'basicConstraints=CA:false\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' \
        >"$d/signer.ext" &&
      openssl x509 -req -in "$d/signer.csr" -CA "$d/ca.pem" -CAkey "$d/ca.key" -set_serial 1 \
        -days 2 -extfile "$d/signer.ext" -out "$d/signer.pem" &&
      openssl req -x509 -newkey rsa:2048 -nodes -keyout "$d/other-ca.key" -out "$d/other-ca.pem" \
        -days 2 -subj "/CN=another authority" &&
      openssl genpkey -algorithm RSA -out "$d/other.key"
  } >"$d/openssl.log" 2>&1 || { cat "$d/openssl.log"; fail "cannot make a throwaway authority"; }
}

# kit_holds_the_release <dist>: beside the release lies the self-test kit,
# which SHA256SUMS covers and which holds the very file released.
kit_holds_the_release() {
  local dist=$1 kit
  kit=$(find "$dist" -maxdepth 1 -name 'FQSrvUninstall-*-selftest.zip' -print -quit)
  [ -n "$kit" ] || fail "no self-test kit beside the release"
  grep -q " $(basename "$kit")\$" "$dist/SHA256SUMS" || fail "SHA256SUMS does not cover the kit"
  mkdir -p "$work/kit" && (cd "$work/kit" && cmake -E tar xf "$kit") || fail "cannot unpack $kit"
  local top
  top=$(basename "$kit" .zip)
  [ "$(ls -A "$work/kit")" = "$top" ] || fail "the kit holds more than its one folder $top"
  [ -f "$work/kit/$top/selftest.cmd" ] || fail "the kit has no selftest.cmd in its folder $top"
  cmp "$work/kit/$top/bin/FQSrvUninstall.exe" "$dist/FQSrvUninstall.exe" ||
    fail "the kit does not hold the file released"
  echo "the kit beside it holds the file released: $(basename "$kit"), $(stat -c %s "$kit") bytes"
}

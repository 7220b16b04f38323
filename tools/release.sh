#!/bin/bash
# Makes the file we ship: FQSrvUninstall.exe for 32-bit Windows, built from a
# clean build folder (preset win32), checked (tools/check-exe.sh), optionally
# signed with Authenticode, with its SHA-256 in SHA256SUMS:
#
#   tools/release.sh [--dist DIR]
#   tools/release.sh --cert CERT.pem --key KEY.pem [--pass-file FILE]
#                    [--timestamp URL] [--ca CA.pem] [--dist DIR]
#
#   --cert       the code-signing certificate, PEM; the certificates of its
#                chain may follow it in the same file, and go into the signature
#   --key        its private key, PEM
#   --pass-file  a file whose first line is the key's password; from a
#                variable: --pass-file <(printf '%s' "$PASSWORD")
#   --timestamp  an RFC 3161 time-stamping service, so that the signature
#                outlives the certificate
#   --ca         the authorities to verify the signature against (default:
#                the system's, /etc/ssl/certs/ca-certificates.crt)
#   --dist       where the files go (default: dist/ in this checkout)
#
# Writes DIR/FQSrvUninstall.exe, beside it the self-test kit that holds that
# very file, DIR/FQSrvUninstall-<version>-selftest.zip (tools/selftest-kit.sh),
# and DIR/SHA256SUMS of both (sha256sum -c reads it), and prints the version
# and the hash. A signed file is verified before SHA256SUMS is written for it;
# the hash of the unsigned file, the one the sources always give, is printed
# too. DIR is replaced whole at the end, or left as it was on any error.
# Needs cmake, ninja, MinGW-w64 and, for the kit, GoogleTest's sources (and
# makensis, wixl, Inno Setup's compiler and Wine for its installers'
# examples); for signing osslsigncode and openssl.
set -uo pipefail
checkout=$(cd "$(dirname "$0")/.." && pwd) || exit 1

usage() {
  sed -n '/^#   tools/,/^#$/p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}
fail() {
  echo "release: $*" >&2
  exit 1
}

cert='' key='' pass_file='' timestamp='' ca='' dist=$checkout/dist
# Paths are the caller's: relative ones are taken from where it stands.
absolute() { case $1 in /*) echo "$1" ;; *) echo "$PWD/$1" ;; esac; }
while [ $# -gt 0 ]; do
  [ $# -ge 2 ] && [ -n "$2" ] || usage
  case $1 in
    --cert) cert=$(absolute "$2") ;;
    --key) key=$(absolute "$2") ;;
    --pass-file) pass_file=$(absolute "$2") ;;
    --timestamp) timestamp=$2 ;;
    --ca) ca=$(absolute "$2") ;;
    --dist) dist=$(absolute "$2") ;;
    *) usage ;;
  esac
  shift 2
done
cd "$checkout" || exit 1
if [ -n "$cert$key" ] && { [ -z "$cert" ] || [ -z "$key" ]; }; then
  fail "signing needs both --cert and --key"
fi
if [ -z "$cert" ] && [ -n "$pass_file$timestamp$ca" ]; then
  fail "--pass-file, --timestamp and --ca are for signing: give --cert and --key too"
fi
for file in "$cert" "$key" "$pass_file" "$ca"; do
  [ -z "$file" ] || [ -r "$file" ] || fail "cannot read $file: no such file, or not readable"
done
# DIR is replaced whole: it must hold nothing but what this script writes.
if [ -d "$dist" ]; then
  others=$(find "$dist" -mindepth 1 ! -name FQSrvUninstall.exe ! -name SHA256SUMS \
    ! -name 'FQSrvUninstall-*-selftest.zip' -print -quit)
  [ -z "$others" ] || fail "$dist holds other files ($others): move them away or choose --dist"
elif [ -e "$dist" ]; then
  fail "$dist is not a folder"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/fq-release.XXXXXX") || exit 1
stage=''
trap 'rm -rf "$work" ${stage:+"$stage"}' EXIT

# The key and the certificate, before anything is built: a wrong password or
# a key of another certificate is said plainly here, not deep in a signing
# tool's messages. The password is read once (it may come from a pipe).
if [ -n "$cert" ]; then
  command -v osslsigncode >/dev/null || fail "signing needs osslsigncode (Debian: package osslsigncode)"
  command -v openssl >/dev/null || fail "signing needs openssl"
  passin=pass:
  if [ -n "$pass_file" ]; then
    (umask 077 && head -n 1 "$pass_file" >"$work/password") || fail "cannot read $pass_file"
    passin=file:$work/password
  fi
  openssl x509 -in "$cert" -noout 2>/dev/null || fail "$cert is not a PEM certificate"
  if ! openssl pkey -in "$key" -passin "$passin" -pubout -out "$work/key.pub" 2>/dev/null; then
    if ! grep -q 'ENCRYPTED' "$key"; then
      fail "$key is not a PEM private key"
    elif [ -z "$pass_file" ]; then
      fail "$key is encrypted: give its password with --pass-file"
    else
      fail "wrong password for $key (from $pass_file)"
    fi
  fi
  openssl x509 -in "$cert" -noout -pubkey >"$work/cert.pub" 2>/dev/null
  cmp -s "$work/key.pub" "$work/cert.pub" || fail "$key is not the key of the certificate $cert"
  signer=$(openssl x509 -in "$cert" -noout -subject -nameopt oneline 2>/dev/null | sed 's/^subject= *//')
fi

echo "Building FQSrvUninstall.exe (win32) in a clean folder..."
build=$work/build
if ! { cmake --preset win32 -B "$build" &&
  cmake --build "$build" --target FQSrvUninstall; } >"$work/build.log" 2>&1; then
  tail -n 30 "$work/build.log" >&2
  fail "the build failed"
fi
unsigned=$build/FQSrvUninstall.exe
tools/check-exe.sh "$unsigned" || fail "$unsigned is not what we ship"

# The version and the description as Windows shows them: from the version
# resource, which must carry the project's version.
resource_value() {
  i686-w64-mingw32-strings -el -n 1 "$unsigned" | grep -x -A 1 "$1" | sed -n 2p
}
version=$(resource_value FileVersion)
description=$(resource_value FileDescription)
project_version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
[ -n "$version" ] && [ "$version" = "$project_version" ] ||
  fail "the version resource says '$version', the project '$project_version'"
[ -n "$description" ] || fail "no FileDescription in the version resource"
unsigned_hash=$(sha256sum "$unsigned" | cut -d' ' -f1)

# Staged beside DIR, so that the final move is a rename.
mkdir -p "$(dirname "$dist")" || exit 1
stage=$(mktemp -d "$(dirname "$dist")/.$(basename "$dist").XXXXXX") || exit 1
chmod 755 "$stage"
if [ -n "$cert" ]; then
  echo "Signing with $signer..."
  sign=(osslsigncode sign -certs "$cert" -key "$key" -h sha256 -n "$description"
    -in "$unsigned" -out "$stage/FQSrvUninstall.exe")
  [ -n "$pass_file" ] && sign+=(-readpass "$work/password")
  [ -n "$timestamp" ] && sign+=(-ts "$timestamp")
  "${sign[@]}" >"$work/sign.log" 2>&1 || { cat "$work/sign.log" >&2; fail "signing failed"; }
  verify=(osslsigncode verify -in "$stage/FQSrvUninstall.exe")
  [ -n "$ca" ] && verify+=(-CAfile "$ca")
  if ! "${verify[@]}" >"$work/verify.log" 2>&1; then
    grep -iE 'error|fail|mismatch' "$work/verify.log" >&2
    fail "the signed file does not verify against ${ca:-the system authorities (give yours with --ca)}: nothing written"
  fi
else
  cp "$unsigned" "$stage/FQSrvUninstall.exe"
fi

# The self-test kit, made around the very file that ships.
echo "Making the self-test kit..."
kit=FQSrvUninstall-$version-selftest.zip
if ! grep -q '^FQ_SELFTEST_PROGRAM:' "$build/CMakeCache.txt"; then
  fail "no self-test kit: the build has no tests (GoogleTest's sources: Debian package googletest)"
fi
if ! { cmake -B "$build" -DFQ_SELFTEST_PROGRAM="$stage/FQSrvUninstall.exe" &&
  cmake --build "$build" --target selftest; } >"$work/kit.log" 2>&1; then
  tail -n 30 "$work/kit.log" >&2
  fail "the self-test kit could not be made"
fi
mv "$build/$kit" "$stage/" || exit 1
grep '^  left out: ' "$work/kit.log"
(cd "$stage" && sha256sum FQSrvUninstall.exe "$kit" >SHA256SUMS) || exit 1
hash=$(sha256sum "$stage/FQSrvUninstall.exe" | cut -d' ' -f1)

# DIR replaced whole, in two renames.
if [ -d "$dist" ]; then
  mv "$dist" "$stage.old" || exit 1
fi
mv "$stage" "$dist" || { [ -d "$stage.old" ] && mv "$stage.old" "$dist"; exit 1; }
rm -rf "$stage.old"
stage=''

echo
echo "FQSrvUninstall $version ($description)"
if [ -n "$cert" ]; then
  echo "  signed by:  $signer${timestamp:+, time-stamped by $timestamp}"
  echo "  unsigned:   $unsigned_hash (these sources build it in any folder)"
  echo "  signed:     $hash"
else
  echo "  unsigned:   $hash (these sources build it in any folder)"
  echo "  The file is not signed: give --cert and --key to sign it."
fi
echo "  self-test:  $dist/$kit ($(stat -c %s "$dist/$kit") bytes), holding that file"
echo "  written:    $dist/FQSrvUninstall.exe, $dist/$kit, $dist/SHA256SUMS"

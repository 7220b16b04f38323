#!/bin/sh
# Installs what building, testing and the demo need on Debian 12 (bookworm):
# compilers for Linux and for Windows (MinGW-w64), GoogleTest, the analysis
# tools, Wine, and a virtual display with screenshot tools. Needs root (uses
# sudo when it is there). Returns at once when everything is installed.
set -eu

packages="cmake ninja-build g++ clang clang-format clang-tidy cppcheck libclang-rt-14-dev
  libgtest-dev libgmock-dev googletest python3 file
  g++-mingw-w64-i686 g++-mingw-w64-x86-64
  wine wine64 wine32:i386
  xvfb x11-apps imagemagick xdotool"

missing=
for package in $packages; do
  if ! dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q 'ok installed'; then
    missing="$missing $package"
  fi
done
[ -z "$missing" ] && exit 0

as_root=
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null; then
    as_root=sudo
  else
    echo "install-prereqs: missing:$missing; run this script as root" >&2
    exit 1
  fi
fi

echo "install-prereqs: installing$missing"
# wine32 comes from the i386 side of the archive.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $as_root dpkg --add-architecture i386
fi
$as_root apt-get update -q
$as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q $missing

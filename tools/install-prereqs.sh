#!/bin/sh
# Installs what building, testing and the demo need on Debian 12 (bookworm)
# or 13 (trixie). Needs root (uses sudo when it is there). Returns at once
# when everything is installed.
#   tools/install-prereqs.sh        everything tools/test.sh and tools/bench.sh use
#   tools/install-prereqs.sh demo   only what tools/demo.sh uses
#   tools/install-prereqs.sh guest  only what tools/guest/ uses
#   tools/install-prereqs.sh --list [all|demo|guest] [i386|no-i386]
#       installs nothing: prints the packages that one wants, one a line,
#       installed or not, npm among them; i386 or no-i386 chooses as a kernel
#       that runs 32-bit code, or one that does not, would (the set-up's test
#       has apt resolve them on each release)
# Wine runs 32-bit programs only where the kernel runs 32-bit x86 code. Where
# it does not, the 32-bit Wine is left out here, and qemu with mmdebstrap come
# instead, to build and boot the emulated machine that has it (tools/guest/).
set -eu
here=$(dirname "$0")
# shellcheck source=tools/apt-sources.sh
. "$here/apt-sources.sh"

list=
[ "${1:-}" != --list ] || { list=1 && shift; }
selection=${1:-all} kernel=${2:-}
usage() {
  echo "usage: $0 [all|demo|guest], or $0 --list [all|demo|guest] [i386|no-i386]" >&2
  exit 2
}
case $selection in all | demo | guest) ;; *) usage ;; esac
case $kernel in "") ;; i386 | no-i386) [ -n "$list" ] || usage ;; *) usage ;; esac
[ $# -le 2 ] || usage
# The machine's packages, as apt sees them (its status file, which APT_CONFIG
# may name).
eval "$(apt-config shell status Dir::State::status/f)"
admindir=$(dirname "${status:-/var/lib/dpkg/status}")

# runs_i386: whether this kernel runs 32-bit x86 code, or what --list chose.
runs_i386() {
  case $kernel in
    i386) return 0 ;;
    no-i386) return 1 ;;
    *) "$here/runs-i386.sh" ;;
  esac
}

# clang_runtime: the sanitizers' runtime (tools/sanitize.sh), which must be
# that of the clang that compiles: libclang-rt-<N>-dev where clang is
# installed and depends on clang-<N>; else libclang-rt-dev, which comes with
# clang from the same source package at the same version, so of that clang.
# No release's version is named here.
clang_runtime() {
  runtime=$(dpkg-query --admindir="$admindir" -W -f='${Status}|${Depends}\n' clang 2>/dev/null |
    sed -n 's/^install ok installed|//p' | tr ',' '\n' |
    sed -n 's/^ *clang-\([0-9][0-9]*\)\( .*\)\{0,1\}$/libclang-rt-\1-dev/p' | head -n 1)
  echo "${runtime:-libclang-rt-dev}"
}

# Building the guest's image and booting it.
guest="qemu-system-x86 qemu-utils mmdebstrap e2fsprogs"
# The 32-bit product, its Windows test programs, and the demo's screenshots.
packages="cmake ninja-build g++-mingw-w64-i686 googletest file imagemagick"
if [ "$selection" = guest ]; then
  packages=$guest
elif runs_i386; then
  packages="$packages wine wine32:i386 xvfb x11-apps xdotool"
else
  packages="$packages $guest"
fi
if [ "$selection" = all ]; then
  # The stand-in's tests, the sanitizers' runtime, the analysis tools (git
  # lists the scripts to check), and the 64-bit Wine that runs the same tests,
  # and the benchmark, at this machine's own speed.
  packages="$packages g++ clang $(clang_runtime) clang-format clang-tidy cppcheck shellcheck git
    libgtest-dev libgmock-dev python3 g++-mingw-w64-x86-64
    wine wine64 xvfb x11-apps xdotool"
  # The setups of the installer tests: NSIS, and the Windows Installer package
  # that wixl builds; signing and checking signatures (tools/release.sh and
  # its tests).
  packages="$packages nsis wixl osslsigncode openssl"
  # npm, for Inno Setup's compiler (below), without the test framework that
  # Debian recommends with it and its many packages. Debian's npm would
  # replace a Node.js from elsewhere, whose own npm then serves (--list names
  # it all the same).
  if [ -n "$list" ] || ! command -v npm >/dev/null; then lean="npm"; fi
fi
if [ -n "$list" ]; then
  # shellcheck disable=SC2086 # lists of package names
  printf '%s\n' $packages ${lean:-} | sort -u
  exit 0
fi

# Inno Setup's compiler, ISCC.exe, from the npm package innosetup at the
# version and hash that tests/wine/installer/package-lock.json pins, into
# build/innosetup; the tests run it under Wine. The package runs no script
# when installed; none is run.
inno_setup() {
  pinned=$here/../tests/wine/installer
  target=$here/../build/innosetup
  # Written once npm ci has finished, with the hash of the lock file it
  # installed: files of an install cut short are no install.
  stamp=$target/.installed
  lock_hash=$(sha256sum "$pinned/package-lock.json" | cut -d' ' -f1)
  if [ -f "$target/node_modules/innosetup/bin/ISCC.exe" ] &&
    [ "$(cat "$stamp" 2>/dev/null)" = "$lock_hash" ]; then
    return 0
  fi
  echo "install-prereqs: installing Inno Setup's compiler (npm package innosetup) into build/innosetup"
  # Whatever an earlier or interrupted install left goes first.
  rm -rf "$target/node_modules" "$stamp" "$stamp.new"
  mkdir -p "$target" &&
    cp "$pinned/package.json" "$pinned/package-lock.json" "$target/" &&
    (cd "$target" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error) &&
    echo "$lock_hash" >"$stamp.new" && mv "$stamp.new" "$stamp"
}

# not_installed <package...>: those that are not installed, once each.
not_installed() {
  for package in "$@"; do
    dpkg-query --admindir="$admindir" \
      -W -f='${Status}\n' "$package" 2>/dev/null | grep -q 'ok installed' || echo "$package"
  done | sort -u | xargs
}
# shellcheck disable=SC2086 # lists of package names
missing=$(not_installed $packages) missing_lean=$(not_installed ${lean:-})
if [ -z "$missing$missing_lean" ]; then
  if [ "$selection" = all ]; then inno_setup; fi
  exit 0
fi

as_root=
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null; then
    as_root=sudo
  else
    echo "install-prereqs: missing: $missing $missing_lean; run this script as root" >&2
    exit 1
  fi
fi

echo "install-prereqs: installing $missing${missing_lean:+ $missing_lean}"
# wine32 comes from the i386 side of the archive.
case $missing in
  *:i386*)
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      $as_root dpkg --add-architecture i386
    fi
    ;;
esac
# An index that cannot be fetched (a mirror out of step with its Release file
# for a while) stops nothing yet: most installs need nothing from it. Where
# the install does, it is tried once more with the suites whose index failed
# left out, for that one command; the machine's sources stay as they are.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
update_log=$work/update.log left_out=$work/left-out
# sudo passes no APT_CONFIG of its own accord.
root_env="$as_root env ${APT_CONFIG:+APT_CONFIG=$APT_CONFIG}"
if ! $root_env sh -c ". '$here/apt-sources.sh' && apt_update_log '$update_log'"; then
  apt_failed_suites "$update_log" >"$left_out"
  echo "install-prereqs: warning: apt-get update could not fetch every index; going on:" \
    "$(apt_failed_lines "$update_log" | paste -sd';' -)" >&2
fi
# install <apt-get option...>: the missing packages.
install() {
  # shellcheck disable=SC2086 # lists of package names
  { [ -z "$missing" ] || $root_env DEBIAN_FRONTEND=noninteractive apt-get "$@" install -y -q $missing; } &&
    { [ -z "$missing_lean" ] ||
      $root_env DEBIAN_FRONTEND=noninteractive apt-get "$@" install -y -q --no-install-recommends \
        $missing_lean; }
}
if ! install; then
  if [ ! -s "$left_out" ]; then
    echo "install-prereqs: could not install $missing${missing_lean:+ $missing_lean}" >&2
    exit 1
  fi
  suites=$(apt_suites_named "$left_out")
  echo "install-prereqs: the install failed; trying once more without $suites," \
    "whose index could not be fetched" >&2
  apt_sources_without "$work/sources" "$left_out"
  # shellcheck disable=SC2046 # options
  if ! install $(apt_use_sources "$work/sources"); then
    echo "install-prereqs: could not install $missing${missing_lean:+ $missing_lean}: apt could not fetch" \
      "$(apt_failed_indexes "$update_log")," \
      "and without $suites the install failed too" >&2
    exit 1
  fi
fi
if [ "$selection" = all ]; then inno_setup; fi

#!/bin/bash
# What tools/install-prereqs.sh installs is there to install on a fresh
# Debian 12 and a fresh Debian 13, whichever the machine runs: a package name
# that one release lacks ("Unable to locate package") fails here, not on a
# newcomer's first command. Every choice the script makes is resolved (its
# --list of everything, of the demo, of the guest; where the kernel runs
# 32-bit code and where it does not), all of a release's at once: what
# installs together installs in part, and one resolution a release keeps the
# check cheap.
# For each release apt is given, through APT_CONFIG, folders of its own: an
# empty status file (a system with nothing installed) and this machine's own
# sources (a mirror or proxy of the user's included), their suites of the
# machine's release renamed for the one checked. apt fetches that release's
# indexes for amd64 and i386 (about 20 MB) and only simulates; nothing of the
# machine changes. Needs the archive: where it cannot be reached, exits 77,
# naming apt's errors.
set -uo pipefail
checkout=$(cd "$(dirname "$0")/../.." && pwd)
prereqs=$checkout/tools/install-prereqs.sh
# The releases install-prereqs.sh is for, by code name.
releases="bookworm trixie"
work=$(mktemp -d "${TMPDIR:-/tmp}/fq-setup-test.XXXXXX") || exit 1
trap '[ -n "${FQ_KEEP:-}" ] || rm -rf "$work"' EXIT
fail() {
  echo "FAILED: $*"
  exit 1
}
skip() {
  echo "$*; not checked ($(basename "$0"))"
  exit 77
}
# shellcheck source=tools/apt-sources.sh
source "$checkout/tools/apt-sources.sh"

# shellcheck source=/dev/null
machine=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[ -n "$machine" ] || skip "no release code name in /etc/os-release"

# apt_of <release> <apt-get argument...>: apt-get with the release's folders.
apt_of() {
  local release=$1
  shift
  APT_CONFIG=$work/$release/apt.conf apt-get "$@"
}

# indexes_of <release> <architecture>: the release's own Packages files that
# apt holds (its suite without -updates or -security).
indexes_of() {
  # shellcheck disable=SC2016 # apt's own $(...) field
  apt_of "$1" indextargets --format '$(FILENAME)' 'Identifier: Packages' "Release: $1" \
    "Architecture: $2" | while read -r file; do [ ! -f "$file" ] || echo "$file"; done
}

for release in $releases; do
  dir=$work/$release
  mkdir -p "$dir/lists/partial" "$dir/cache/archives/partial"
  : >"$dir/status"
  apt_sources_of_release "$dir/sources" "$machine" "$release"
  cat >"$dir/apt.conf" <<EOF
Dir::State::Lists "$dir/lists";
Dir::State::status "$dir/status";
Dir::Cache "$dir/cache";
Dir::Etc::SourceList "$dir/sources/sources.list";
Dir::Etc::SourceParts "$dir/sources/sources.list.d";
APT::Architectures { "amd64"; "i386"; };
APT::Sandbox::User "$(id -un)";
Acquire::Languages "none";
Debug::NoLocking "true";
EOF
  for file in $(APT_CONFIG=$dir/apt.conf apt_source_files); do
    apt_sources_awk pairs "" "$file"
  done | cut -d' ' -f2 | grep -qx "$release" ||
    skip "this machine's apt sources name no suite of its release, $machine, to rename for $release"

  # A suite whose index cannot be fetched today (a mirror out of step) is
  # left out, as install-prereqs.sh then leaves it out; without the release's
  # own suite there is nothing to check.
  APT_CONFIG=$dir/apt.conf apt_update_log "$dir/update.log" >/dev/null
  APT_CONFIG=$dir/apt.conf apt_failed_suites "$dir/update.log" >"$dir/left-out"
  if [ -s "$dir/left-out" ]; then
    if cut -d' ' -f2 "$dir/left-out" | grep -qx "$release"; then
      skip "apt cannot fetch Debian $release's indexes: $(apt_failed_indexes "$dir/update.log")"
    fi
    echo "$release: resolved without $(apt_suites_named "$dir/left-out"): apt could not" \
      "fetch $(apt_failed_indexes "$dir/update.log")"
    APT_CONFIG=$dir/apt.conf apt_sources_without "$dir/kept" "$dir/left-out"
    mv "$dir/kept" "$dir/sources.kept" && rm -r "$dir/sources" && mv "$dir/sources.kept" "$dir/sources"
    APT_CONFIG=$dir/apt.conf apt_update_log "$dir/update.log" >/dev/null
  fi
  for arch in amd64 i386; do
    [ -n "$(indexes_of "$release" "$arch")" ] ||
      skip "apt holds no $arch index of Debian $release: $(grep -E '^(E|W|Err):' "$dir/update.log" |
        paste -sd';' -)"
  done

  # Every list, as on a fresh system of the release; on the machine's own
  # release also as on this machine, where clang's runtime is named for the
  # clang installed.
  : >"$dir/names"
  for selection in all demo guest; do
    for kernel in i386 no-i386; do
      APT_CONFIG=$dir/apt.conf "$prereqs" --list "$selection" "$kernel" >"$dir/list" ||
        fail "install-prereqs.sh --list $selection $kernel failed"
      [ -s "$dir/list" ] || fail "install-prereqs.sh --list $selection $kernel printed nothing"
      cat "$dir/list" >>"$dir/names"
    done
  done
  if [ "$release" = "$machine" ]; then
    "$prereqs" --list all i386 >>"$dir/names" || fail "install-prereqs.sh --list all i386 failed"
  fi
  sort -u -o "$dir/names" "$dir/names"

  # shellcheck disable=SC2046 # the names, one a word
  apt_of "$release" install -s -q $(cat "$dir/names") >"$dir/install.log" 2>&1 ||
    fail "on Debian $release apt cannot install what install-prereqs.sh names:" \
      "$(grep -E '^E:|^ [^ ].* but ' "$dir/install.log" | paste -sd';' -)"
  # Each name is a package of its own, not one that apt chose another for:
  # install-prereqs.sh, asking dpkg for that name, would install it at every
  # run.
  while read -r name; do
    grep -qF "Inst $name (" "$dir/install.log" ||
      fail "on Debian $release apt installs no package $name: $(grep -i -m1 "$name" "$dir/install.log")"
  done <"$dir/names"
  # The sanitizers' runtime is that of the clang installed with it.
  clang=$(sed -n 's/^Inst clang-\([0-9][0-9]*\) .*/\1/p' "$dir/install.log" | sort -u | xargs)
  runtime=$(sed -n 's/^Inst libclang-rt-\([0-9][0-9]*\)-dev .*/\1/p' "$dir/install.log" | sort -u | xargs)
  if [ -z "$clang" ] || [ "$clang" != "$runtime" ]; then
    fail "on Debian $release clang ${clang:-none} comes with the runtime of clang ${runtime:-none}"
  fi
  echo "$release: $(wc -l <"$dir/names") names, $(grep -c '^Inst ' "$dir/install.log") packages" \
    "installed in simulation; clang $clang with its runtime"
done
echo "passed"

#!/bin/bash
# tools/install-prereqs.sh on a day when the archive serves an index that
# does not match its Release file: it goes on, names that index, and where
# the install then fails, installs without that suite; it fails, naming the
# index and the packages, only when that fails too.
# No network and nothing changed on this machine: apt is given, through
# APT_CONFIG, folders of its own, a status file that lacks mmdebstrap (what
# "install-prereqs.sh guest" wants), the machine's own indexes as a local
# archive, and a local suite "broken" whose i386 index fails its hash and
# whose amd64 one offers an mmdebstrap that cannot be installed. apt only
# simulates. Needs root, as the script does without sudo: else exits 77.
set -uo pipefail
checkout=$(cd "$(dirname "$0")/../.." && pwd)
if [ "$(id -u)" -ne 0 ]; then
  echo "not root: install-prereqs.sh would ask sudo; not checked ($(basename "$0"))"
  exit 77
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/fq-setup-test.XXXXXX") || exit 1
trap '[ -n "${FQ_KEEP:-}" ] || rm -rf "$work"' EXIT
chmod 755 "$work"
fail() {
  echo "FAILED: $*"
  exit 1
}

# release <suite folder>: its Release file, as an archive signs none here.
release() {
  (cd "$1" && {
    echo "Suite: $(basename "$1")"
    echo "Date: $(date -Ru)"
    echo "Architectures: $(find . -name Packages | sed 's|.*/binary-||; s|/.*||' | sort -u | xargs)"
    echo "SHA256:"
    find . -name Packages | sed 's|^\./||' | while read -r index; do
      echo " $(sha256sum "$index" | cut -d' ' -f1) $(stat -c %s "$index") $index"
    done
  } >Release)
}

# The machine's indexes, each suite as it has them, one archive a site.
mkdir -p "$work/sources/parts" "$work/lists/partial" "$work/cache" "$work/dpkg/info" \
  "$work/dpkg/updates"
# shellcheck disable=SC2016 # apt's own $(...) fields
fields='$(FILENAME) $(SITE) $(RELEASE) $(COMPONENT) $(ARCHITECTURE)'
sites=()
while read -r file site suite component arch; do
  n=-1
  for i in "${!sites[@]}"; do [ "${sites[$i]}" != "$site" ] || n=$i; done
  [ "$n" -ge 0 ] || { n=${#sites[@]} && sites+=("$site"); }
  dir=$work/archive/$n/dists/$suite/$component/binary-$arch
  mkdir -p "$dir"
  /usr/lib/apt/apt-helper cat-file "$file" >"$dir/Packages" || fail "cannot read $file"
  echo "deb [trusted=yes] file:$work/archive/$n $suite $component" >>"$work/sources/machine.list"
done < <(apt-get indextargets --format "$fields" 'Identifier: Packages' 'Target-Of: deb')
[ -s "$work/sources/machine.list" ] || fail "this machine has no package indexes (apt-get update)"
sort -u -o "$work/sources/machine.list" "$work/sources/machine.list"
for suite in "$work"/archive/*/dists/*; do release "$suite"; done

# The broken suite, in deb822 form. Once its i386 index is not what its
# Release file says, though of the same size, apt keeps the indexes it had of
# it: those it fetched before i386 was added, as on the day this was seen.
broken=$work/broken/dists/broken/main
mkdir -p "$broken/binary-amd64" "$broken/binary-i386"
printf '%s\n' "Package: mmdebstrap" "Version: 99" "Architecture: all" \
  "Depends: fq-nothing-provides-this" "Filename: pool/mmdebstrap_99_all.deb" "Size: 1" \
  "SHA256: 0000000000000000000000000000000000000000000000000000000000000000" "" \
  >"$broken/binary-amd64/Packages"
printf 'Package: fq-i386\nVersion: 1\nArchitecture: i386\n\n' >"$broken/binary-i386/Packages"
release "$work/broken/dists/broken"
printf '%s\n' "Types: deb" "URIs: file:$work/broken/" "Suites: broken" "Components: main" \
  "Trusted: yes" >"$work/broken.sources"

# What dpkg has, without mmdebstrap.
awk -v RS= -v ORS='\n\n' '$0 !~ /(^|\n)Package: mmdebstrap\n/' /var/lib/dpkg/status \
  >"$work/dpkg/status"
cat >"$work/apt-amd64.conf" <<EOF
Dir::State::Lists "$work/lists";
Dir::State::status "$work/dpkg/status";
Dir::Cache "$work/cache";
Dir::Etc::SourceList "$work/sources/machine.list";
Dir::Etc::SourceParts "$work/sources/parts";
APT::Get::Simulate "true";
APT::Sandbox::User "root";
Debug::NoLocking "true";
APT::Architectures { "amd64"; };
EOF
sed 's/^APT::Architectures.*/APT::Architectures { "amd64"; "i386"; };/' "$work/apt-amd64.conf" \
  >"$work/apt.conf"

# The machine as it is, to be found so afterwards.
machine_state() {
  { dpkg --print-foreign-architectures
    find /etc/apt /var/lib/apt/lists -maxdepth 2 -newer "$work/apt.conf" -print
    sha256sum /var/lib/dpkg/status; } 2>&1
}
before=$(machine_state)

# run <name>: the script with the sources in place; its output in <name>.log.
run() {
  APT_CONFIG=$work/apt.conf "$checkout/tools/install-prereqs.sh" guest >"$work/$1.log" 2>&1
  local status=$?
  grep -v "^\(Inst\|Conf\) " "$work/$1.log" | sed "s/^/  $1: /"
  return $status
}

# 1. The machine's sources beside the broken suite: the first install picks
# the broken suite's mmdebstrap and fails; the second, without that suite,
# takes the machine's.
cp "$work/broken.sources" "$work/sources/parts/"
APT_CONFIG=$work/apt-amd64.conf apt-get update -qq || fail "cannot read the local sources"
printf 'Package: fq-i386\nVersion: 2\nArchitecture: i386\n\n' >"$broken/binary-i386/Packages"
run beside || fail "install-prereqs.sh failed beside the broken suite"
log=$work/beside.log
grep -q "^install-prereqs: warning: apt-get update could not fetch .*file:$work/broken.* broken/main i386 Packages (Hash Sum mismatch)" "$log" ||
  fail "no warning that names the broken index and apt's reason"
[ "$(grep -c '^install-prereqs: warning' "$log")" -eq 1 ] || fail "not one warning"
grep -q "^install-prereqs: the install failed; trying once more without broken (file:$work/broken)" "$log" ||
  fail "no second try that names the suite left out"
grep -q '^Inst mmdebstrap (99 ' "$log" && fail "the broken suite's mmdebstrap was installed"
grep -q '^Inst mmdebstrap (' "$log" || fail "mmdebstrap was not installed from the machine's sources"

# 2. The broken suite alone: without it nothing offers mmdebstrap, and the
# script fails, naming the index and what it could not install.
rm "$work/sources/parts/broken.sources" && : >"$work/sources/machine.list"
cp "$work/broken.sources" "$work/sources/parts/"
run alone && fail "install-prereqs.sh passed with nothing to install mmdebstrap from"
grep -q "^install-prereqs: could not install .*mmdebstrap.*: apt could not fetch .*file:$work/broken.* broken/main i386 Packages.*without broken (file:$work/broken) the install failed too" \
  "$work/alone.log" || fail "the failure names neither the index nor the package"

[ "$(machine_state)" = "$before" ] || fail "the machine's apt state changed: $(machine_state)"
echo "passed"

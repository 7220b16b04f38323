#!/bin/bash
# Makes the self-test kit (docs/selftest.md), a zip to unpack on a Windows
# test machine and run from an elevated prompt:
#
#   tools/selftest-kit.sh PROGRAM.exe KIT.zip FILE...
#
#   PROGRAM.exe  the program the kit proves, the very file that ships
#   FILE...      the runner (FQSelfTest.exe), the checks (FQSelfTestChecks.exe)
#                and the fixtures they need, from a build of the win32 preset
#
# The zip holds one folder, named as the zip is without .zip
# (FQSrvUninstall-<version>-selftest), so that "Extract here" makes a folder
# of the kit's own. In it: selftest.cmd and README.txt; in bin\: the program,
# the other files (stripped: their symbols are of no use there), and the
# installers' examples built around that program as an installer maker builds
# them (README.md, "From an installer"), the Windows Installer package and
# the Inno Setup setup under codes and names of the kit's own, so that what
# the kit uninstalls under them is never a product an installer maker built
# from the examples: the batch file; the NSIS setup
# (makensis); the Windows Installer package (wixl); the Inno Setup setup
# (ISCC.exe, a Windows program: under Wine here where this kernel runs 32-bit
# code, else in the guest where FQ_GUEST_IMAGE names its image). An example
# whose tool is missing is left out, and said so; the kit then skips its
# checks, naming why. Prints what the zip holds and its size.
set -uo pipefail
checkout=$(cd "$(dirname "$0")/.." && pwd) || exit 1
[ $# -ge 2 ] || { sed -n '/^#   tools/,/^#$/p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
fail() {
  echo "selftest-kit: $*" >&2
  exit 1
}
absolute() { case $1 in /*) echo "$1" ;; *) echo "$PWD/$1" ;; esac; }
program=$(absolute "$1")
zip=$(absolute "$2")
shift 2
[ -f "$program" ] || fail "no program $program"
installer=$checkout/tests/wine/installer

# In the checkout, which the guest shares, for Inno Setup's compiler there.
mkdir -p "$checkout/build" || exit 1
stage=$(mktemp -d "$checkout/build/.selftest-kit.XXXXXX") || exit 1
trap 'rm -rf "$stage"' EXIT
top=$(basename "$zip" .zip)
kit=$stage/kit/$top
# The one time the kit's files and entries have: SOURCE_DATE_EPOCH's, else
# 2000-01-01 (UTC), whenever it is made.
epoch=${SOURCE_DATE_EPOCH:-946684800}
mkdir -p "$kit/bin"
cp "$checkout/tests/selftest/selftest.cmd" "$checkout/tests/selftest/README.txt" "$kit/" &&
  cp "$program" "$kit/bin/FQSrvUninstall.exe" &&
  cp "$installer/remove-fq.cmd" "$kit/bin/" || fail "cannot copy the kit's files"
for file in "$@"; do
  [ "$(basename "$file")" != FQSrvUninstall.exe ] || continue
  # strip writes the time into the header, SOURCE_DATE_EPOCH's when set.
  SOURCE_DATE_EPOCH=$epoch i686-w64-mingw32-strip -o "$kit/bin/$(basename "$file")" "$file" ||
    fail "cannot strip $file"
done

# The kit's own copies of the scripts: the examples with the kit's codes and
# names (the package's product, upgrade and component codes, its product and
# folder names; the setup's AppId, AppName and folder). Each replacement must
# take, or the kit would carry the examples' own.
own() {
  local script=$1
  shift
  sed "$@" "$installer/$script" >"$stage/scripts/$script" &&
    ! grep -qE 'FQ [Rr]emoval|8D3C2A61|5B9E0F44|2E6B8D3A' "$stage/scripts/$script" ||
    fail "the kit's copy of $script keeps a code or name of the example's"
}
mkdir -p "$stage/scripts" && cp "$installer/remove-fq.nsi" "$stage/scripts/" || exit 1
own remove-fq.wxs -e 's/8D3C2A61-4F0B-4C57-9E6A-2B7F1D5E9A10/B3A3FE05-6AEB-47F7-B1CC-720A399BC08A/' \
  -e 's/5B9E0F44-1C2D-4A8B-8F3E-6D7A9C1B2E30/ADBFB5CA-5EE8-48F4-A629-99F857538D5F/' \
  -e 's/2E6B8D3A-7F41-4C9E-A5B0-1D8C3F6E9A72/DE32D299-7EC0-4AAA-99AE-12C66FE435A7/' \
  -e 's/Name="FQ removal"/Name="FQSrvUninstall self-test"/' \
  -e 's/Name="FQ Removal"/Name="FQSrvUninstall self-test"/'
own remove-fq.iss -e 's/^AppName=FQ removal$/AppId=FQSrvUninstallSelfTest\nAppName=FQSrvUninstall self-test/' \
  -e 's/^DefaultDirName={autopf}\\FQ Removal$/DefaultDirName={autopf}\\FQSrvUninstall self-test/'

# example <name> <script> <command...>: builds an example in a folder of its
# own that holds the program and the script, as the README tells.
example() {
  local folder=$stage/$1 script=$2
  shift 2
  # A setup holds its files' times: the kit's one time.
  mkdir -p "$folder" && cp "$program" "$folder/FQSrvUninstall.exe" &&
    cp "$stage/scripts/$script" "$folder/" && touch -d "@$epoch" "$folder"/* &&
    (cd "$folder" && SOURCE_DATE_EPOCH=$epoch "$@") >"$folder.log" 2>&1 ||
    { cat "$folder.log" >&2; fail "cannot build the $1 example"; }
}
missing=()
if command -v makensis >/dev/null; then
  example nsis remove-fq.nsi makensis -V2 -DPROGRAM=FQSrvUninstall.exe -DSETUP=FQRemovalSetup.exe \
    remove-fq.nsi
  cp "$stage/nsis/FQRemovalSetup.exe" "$kit/bin/"
else
  missing+=("the NSIS setup: no makensis")
fi
if command -v wixl >/dev/null; then
  example msi remove-fq.wxs wixl -o FQRemoval.msi remove-fq.wxs
  cp "$stage/msi/FQRemoval.msi" "$kit/bin/"
else
  missing+=("the Windows Installer package: no wixl")
fi
iscc=$(command -v ISCC.exe || echo "$checkout/build/innosetup/node_modules/innosetup/bin/ISCC.exe")
compile=(/Q /DProgram=FQSrvUninstall.exe remove-fq.iss)
if [ ! -f "$iscc" ]; then
  missing+=("the Inno Setup setup: no ISCC.exe")
elif "$checkout/tools/runs-i386.sh"; then
  example inno remove-fq.iss "$checkout/tools/wine-run.sh" "$iscc" "${compile[@]}"
elif [ -n "${FQ_GUEST_IMAGE:-}" ]; then
  example inno remove-fq.iss "$checkout/tools/guest/run.sh" --timeout 900 -- \
    "$checkout/tools/wine-run.sh" "$iscc" "${compile[@]}"
else
  missing+=("the Inno Setup setup: this kernel runs no 32-bit code for ISCC.exe, and FQ_GUEST_IMAGE names no guest")
fi
[ ! -d "$stage/inno" ] || cp "$stage/inno/Output/FQRemovalSetup.exe" "$kit/bin/FQRemovalInnoSetup.exe" ||
  fail "ISCC.exe made no setup"

mkdir -p "$(dirname "$zip")" && rm -f "$zip" || exit 1
# The zip's bytes follow from its files alone: its entries in one order (by
# name), all of one time (SOURCE_DATE_EPOCH's, else 2000-01-01, in UTC), no
# owner of this machine's and no permissions but read (and enter) for all.
(cd "$kit/.." && python3 - "$zip.partial" "$top" "$epoch" <<'EOF'
import os, sys, time, zipfile
out, top = sys.argv[1], sys.argv[2]
stamp = time.gmtime(max(int(sys.argv[3]), 315532800))[:6]
entries = []
for folder, folders, files in os.walk(top):
    entries.append(folder + "/")
    entries.extend(os.path.join(folder, name) for name in files)
with zipfile.ZipFile(out, "w") as kit:
    for name in sorted(entries):
        entry = zipfile.ZipInfo(name, stamp)
        if name.endswith("/"):
            entry.external_attr = (0o40755 << 16) | 0x10  # a folder, for Unix and for Windows
            kit.writestr(entry, b"")
        else:
            entry.external_attr = 0o100644 << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            with open(name, "rb") as data:
                kit.writestr(entry, data.read(), compresslevel=9)
EOF
) && mv "$zip.partial" "$zip" || fail "cannot write $zip"
echo "self-test kit: $zip, $(stat -c %s "$zip") bytes"
(cd "$kit/.." && find "$top" -type f -printf '  %p %s\n' | sort)
for left in ${missing[@]+"${missing[@]}"}; do echo "  left out: $left"; done

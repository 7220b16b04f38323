#!/bin/bash
# Builds, once, the guest that runs the 32-bit program where this machine
# cannot: a Debian amd64 system of this machine's release (Debian 12 here),
# whose kernel executes 32-bit x86 code, with the 32-bit and 64-bit Wine, a
# virtual display and ctest, and a 32-bit and a 64-bit Wine prefix made at
# build time. tools/guest/run.sh boots it under qemu. Its packages come from
# this machine's own apt sources (a mirror or proxy of the user's included);
# a suite whose index cannot be fetched today is left out, and said so.
#
#   tools/guest/image.sh      prints the folder of the image, building it first
#                             when it is missing or its recipe (this file) changed
#
# The image lives outside the checkout, in $FQ_GUEST_CACHE (default
# ~/.cache/fqsrvuninstall/guest), one folder per recipe: rootfs.img (ext4,
# sparse), vmlinuz, initrd.img. Needs root (sudo will do) and the network.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cache=${FQ_GUEST_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/fqsrvuninstall/guest}
# The release the guest is of: this machine's.
# shellcheck source=/dev/null
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[ -n "$codename" ] || { echo "guest image: no release code name in /etc/os-release" >&2; exit 1; }
recipe=$( (cat "$here/image.sh" "$here/prefix.sh" && echo "$codename") | sha256sum | cut -c1-16)
image=$cache/$recipe
log() { echo "guest image: $*" >&2; }

[ -f "$image/ready" ] && { echo "$image"; exit 0; }

if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { log "building the image needs root"; exit 1; }
  exec sudo FQ_GUEST_CACHE="$cache" "$0" "$@"
fi
"$here/../install-prereqs.sh" guest >&2

mkdir -p "$cache"
exec 9>"$cache/lock"
flock 9  # one build at a time; a second caller then finds it ready
[ -f "$image/ready" ] && { echo "$image"; exit 0; }

started=$SECONDS
work=$(mktemp -d "$cache/build.XXXXXX")
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"  # built by root, booted by whoever runs the tests
root=$work/root

# The guest's packages: the kernel (its stock build runs 32-bit code), the
# 32-bit Wine and the 64-bit one that runs 32-bit programs as 64-bit Windows
# does, their fonts, a virtual display with the tools that look at it, and
# ctest for the test presets. No recommends, no documentation.
packages=linux-image-amd64,initramfs-tools,wine,wine32:i386,wine64,fonts-wine
packages=$packages,xvfb,x11-apps,xdotool,cmake
# The initramfs loads what mounting the disk and the shared folders takes.
initramfs_modules='virtio_pci virtio_blk ext4 9p 9pnet_virtio'
# Packages this machine has already fetched need not be fetched again.
reuse_debs='mkdir -p "$1/var/cache/apt/archives";
  cp -l /var/cache/apt/archives/*.deb "$1/var/cache/apt/archives/" 2>/dev/null || true'

# The machine's sources, without any suite whose index for the guest's two
# architectures cannot be fetched today (a mirror out of step with its Release
# file): asked with apt folders of this build's own, nothing of the machine's
# changed.
# shellcheck source=tools/apt-sources.sh
. "$here/../apt-sources.sh"
mkdir -p "$work/probe/lists/partial" "$work/probe/cache/archives/partial"
apt_update_log "$work/probe/update.log" -o Dir::State::Lists="$work/probe/lists" \
  -o Dir::Cache="$work/probe/cache" -o APT::Architectures::=amd64 -o APT::Architectures::=i386 \
  -o APT::Sandbox::User=root \
  >&2 || true
apt_failed_suites "$work/probe/update.log" >"$work/left-out"
if [ -s "$work/left-out" ]; then
  log "warning: apt could not fetch $(apt_failed_indexes "$work/probe/update.log");" \
    "building without $(apt_suites_named "$work/left-out")"
fi
apt_sources_without "$work/sources" "$work/left-out"
sources=()
for file in "$work/sources/sources.list" "$work/sources/sources.list.d"/*; do
  # mmdebstrap takes a file as sources; .list or .sources tells it the format.
  if grep -qv '^[[:space:]]*\(#.*\)\?$' "$file" 2>/dev/null; then sources+=("$file"); fi
done
[ ${#sources[@]} -gt 0 ] || { log "this machine has no apt sources to build from"; exit 1; }
rm -rf "$work/probe"

# make_root <directory>: the root file system.
make_root() {
  mmdebstrap --quiet --variant=minbase --architectures=amd64,i386 --include="$packages" \
    --dpkgopt='path-exclude=/usr/share/man/*' --dpkgopt='path-exclude=/usr/share/doc/*' \
    --dpkgopt='path-exclude=/usr/share/locale/*' \
    --dpkgopt='path-include=/usr/share/locale/locale.alias' \
    --setup-hook="$reuse_debs" \
    --essential-hook='mkdir -p "$1/etc/initramfs-tools/conf.d";
      echo MODULES=list >"$1/etc/initramfs-tools/conf.d/fq-guest.conf";
      printf "%s\n" '"$initramfs_modules"' >>"$1/etc/initramfs-tools/modules"' \
    "$codename" "$1" "${sources[@]}"
}
log "building the root file system (Debian $codename, amd64 with i386; about 3 minutes)"
# A second try, should the network have failed the first.
make_root "$root" || { rm -rf "$root" && log "trying once more" && make_root "$root"; }

# PID 1: mounts the folder the host shares for this run and hands over to the
# script the host put there (tools/guest/init.sh), so that the image need not
# change when that script does.
cat >"$root/sbin/fq-guest-init" <<'EOF'
#!/bin/sh
mkdir -p /run/fq-control
if mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 fqcontrol /run/fq-control; then
  exec /bin/sh /run/fq-control/init.sh
fi
echo "fq-guest-init: no control folder" >&2
echo o >/proc/sysrq-trigger
sleep 60
EOF
chmod 755 "$root/sbin/fq-guest-init"
echo fq-guest >"$root/etc/hostname"
printf '127.0.0.1 localhost fq-guest\n' >"$root/etc/hosts"
install -m 755 "$here/prefix.sh" "$root/usr/local/sbin/fq-make-prefix"

cp "$(readlink -f "$root/vmlinuz")" "$work/vmlinuz"
cp "$(readlink -f "$root/initrd.img")" "$work/initrd.img"
# Room for the Wine prefixes and the runs' own files; the file stays sparse.
size_mib=$(($(du -sm "$root" | cut -f1) + 5120))
log "making the disk image (${size_mib} MiB, sparse)"
truncate -s "${size_mib}M" "$work/rootfs.img"
mkfs.ext4 -q -F -L fq-guest -d "$root" "$work/rootfs.img"
rm -rf "$root"

# The Wine prefixes, made once inside the guest and kept in the image: every
# run then starts from a copy instead of a fresh wineboot.
log "making the 32-bit and 64-bit Wine prefixes in the guest (about two minutes)"
FQ_GUEST_IMAGE=$work FQ_GUEST_WRITABLE=1 "$here/run.sh" --share "$work" -- \
  /usr/local/sbin/fq-make-prefix >&2  # our output is the folder's name alone

rm -rf "$image"
mv "$work" "$image"
trap - EXIT
touch "$image/ready"
# Images of older recipes are of no more use.
for old in "$cache"/*/; do
  [ "${old%/}" = "$image" ] || rm -rf "$old"
done
log "ready in $((SECONDS - started)) s: $image"
echo "$image"

#!/bin/bash
# Runs one command in the guest (tools/guest/image.sh builds it on first use):
# a Debian amd64 system under qemu, whose kernel runs 32-bit x86 code, so that
# the 32-bit Wine runs there where this machine's kernel cannot.
#
#   tools/guest/run.sh [--share DIR]... [--env NAME=VALUE]... [--timeout S] [--] COMMAND [ARG]...
#
# Each DIR (default: this checkout) appears in the guest at the same path,
# read and write. The command runs as root in the current directory when that
# lies in a shared folder, else in /root. Its output comes through as it
# goes, and the exit status is the command's own: 125 when the guest could not
# run it. Nothing it changes outside the shared folders outlives the run.
#
#   FQ_GUEST_CPUS, FQ_GUEST_MEMORY   virtual CPUs (default 2) and MiB (default 3072)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
usage() {
  echo "usage: tools/guest/run.sh [--share DIR]... [--env NAME=VALUE]... [--timeout S] [--] COMMAND [ARG]..." >&2
  exit 2
}
log() { echo "guest: $*" >&2; }

shares=() env=() limit=2400
while [ $# -gt 0 ]; do
  case $1 in
    --share) [ $# -ge 2 ] && [ -d "$2" ] || usage; shares+=("$(realpath "$2")"); shift 2 ;;
    --env) [ $# -ge 2 ] && [[ $2 == [A-Za-z_]*=* ]] || usage; env+=("$2"); shift 2 ;;
    --timeout) [ $# -ge 2 ] && [[ $2 =~ ^[1-9][0-9]*$ ]] || usage; limit=$2; shift 2 ;;
    --) shift; break ;;
    -*) usage ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || usage
[ ${#shares[@]} -gt 0 ] || shares=("$(cd "$here/../.." && pwd)")

# FQ_GUEST_IMAGE and FQ_GUEST_WRITABLE are image.sh's own: it boots the image
# it is building, and keeps what the guest writes to its disk.
image=${FQ_GUEST_IMAGE:-}
if [ -z "$image" ]; then
  image=$("$here/image.sh") || exit 125
fi

tmp=$(mktemp -d "${TMPDIR:-/tmp}/fq-guest.XXXXXX")
ctl=$tmp/control
mkdir "$ctl"
qemu_pid=
cleanup() {
  [ -n "$qemu_pid" ] && kill "$qemu_pid" 2>/dev/null && wait "$qemu_pid" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

workdir=/root
current=$(pwd -P)
for share in "${shares[@]}"; do
  case $current/ in "$share"/*) workdir=$current ;; esac
done
printf '%s\n' "${shares[@]}" >"$ctl/shares"
{
  for setting in ${env[@]+"${env[@]}"}; do printf 'export %s=%q\n' "${setting%%=*}" "${setting#*=}"; done
  printf 'cd %q || exit 125\nexec' "$workdir"
  printf ' %q' "$@"
  echo
} >"$ctl/command"
cp "$here/init.sh" "$ctl/init.sh"
: >"$ctl/output"

if [ -n "${FQ_GUEST_WRITABLE:-}" ]; then
  disk="file=$image/rootfs.img,format=raw"
else
  # The image stays as built: the run writes to an overlay that goes with it.
  qemu-img create -q -f qcow2 -b "$image/rootfs.img" -F raw "$tmp/disk.qcow2" || exit 125
  disk="file=$tmp/disk.qcow2,format=qcow2"
fi
# shellcheck disable=SC2054 # the commas belong to qemu's options
args=(
  -accel tcg,thread=multi -smp "${FQ_GUEST_CPUS:-2}" -m "${FQ_GUEST_MEMORY:-3072}"
  # The emulated SMAP of -cpu max kills 32-bit processes; this model does not.
  -cpu qemu64,+ssse3,+sse4.1,+sse4.2,+popcnt
  -kernel "$image/vmlinuz" -initrd "$image/initrd.img"
  -append "console=ttyS0 root=/dev/vda rw quiet init=/sbin/fq-guest-init"
  -drive "$disk,if=virtio,cache=unsafe"
  -virtfs "local,path=$ctl,mount_tag=fqcontrol,security_model=none"
  -display none -monitor none -serial "file:$tmp/console.log" -nic none -no-reboot
)
for i in "${!shares[@]}"; do
  args+=(-virtfs "local,path=${shares[$i]},mount_tag=fqshare$i,security_model=none")
done

started=$SECONDS
timeout --kill-after=10 "$limit" qemu-system-x86_64 "${args[@]}" </dev/null >"$tmp/qemu.log" 2>&1 &
qemu_pid=$!
tail -n +1 -f --pid="$qemu_pid" "$ctl/output"
wait "$qemu_pid"
qemu_status=$?
qemu_pid=

if [ ! -s "$ctl/status" ]; then
  if [ "$qemu_status" -eq 124 ] || [ "$qemu_status" -eq 137 ]; then
    log "the command did not end within $limit s: guest stopped"
  else
    log "the guest ended without running the command to its end"
  fi
  tail -n 20 "$tmp/qemu.log" "$tmp/console.log" >&2
  exit 125
fi
booted=$(cat "$ctl/booted" 2>/dev/null || echo '?')
log "booted in ${booted} s, whole run $((SECONDS - started)) s"
exit "$(cat "$ctl/status")"

#!/bin/sh
# PID 1 of the guest for one run of tools/guest/run.sh, started from the
# control folder the host shares: mounts what a command needs and the shared
# folders, runs the command, hands back its output and exit status, powers off.
ctl=/run/fq-control
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export HOME=/root USER=root LOGNAME=root LANG=C.UTF-8 TERM=dumb
# Temporary files on the disk (a throwaway overlay): a copy of the 64-bit
# Wine prefix alone would fill most of a /tmp in memory.
export TMPDIR=/var/tmp
# What the image itself provides, such as its Wine prefix (tools/guest/prefix.sh).
[ -f /etc/fq-guest.env ] && . /etc/fq-guest.env

mountpoint -q /proc || mount -t proc proc /proc
mountpoint -q /sys || mount -t sysfs sysfs /sys
mountpoint -q /dev || mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts /dev/shm
mount -t devpts -o gid=5,mode=620 devpts /dev/pts
mount -t tmpfs -o mode=1777 tmpfs /dev/shm
mount -t tmpfs -o mode=1777 tmpfs /tmp
echo fq-guest >/proc/sys/kernel/hostname
# Wine 10's server (Debian 13) keeps its socket in /run/user/<uid>; where
# that folder is missing it makes one in $TMPDIR instead, and aborts doing so
# ("free(): invalid pointer"), with it every Wine program.
mkdir -p /run/user/0 && chmod 700 /run/user/0

# Wine maps programs into memory from these folders, and without the page
# cache such a mapping reads zeros past its first pages. Nothing on the host
# changes them during a run; the sync below writes back what the guest wrote.
i=0
while read -r path; do
  mkdir -p "$path"
  mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144,cache=loose "fqshare$i" "$path" ||
    echo "guest: cannot mount $path" >>"$ctl/output"
  i=$((i + 1))
done <"$ctl/shares"

cut -d' ' -f1 /proc/uptime >"$ctl/booted"
/bin/bash "$ctl/command" >>"$ctl/output" 2>&1 </dev/null
echo $? >"$ctl/status"

sync
echo o >/proc/sysrq-trigger
sleep 60

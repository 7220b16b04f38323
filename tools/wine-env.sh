# shellcheck shell=bash
# Sourced: gives this shell a throwaway Wine prefix with exactly one service
# manager and a virtual display, and ends them (and nothing else) on exit.
#
#   FQ_WINE_ARCH  win32 or win64. Default: win32 when this machine can run
#                 32-bit x86 code, else win64 (and FQ_WINE_WHY says why).
#   FQ_WINE_TEMPLATES
#                 a folder of prefixes booted earlier, wine-win32 and wine-win64,
#                 with our fonts and settings in them already: the prefix of
#                 the architecture asked for starts as a copy of its own.
#
# Exports WINEPREFIX, WINEARCH, WINESERVER, WINELOADER, WINEDEBUG, DISPLAY and
# FQ_WINE (the loader to start Windows programs with). fq_wine_cleanup ends the
# processes started here, by their pid, and removes the prefix; it is hooked
# on EXIT unless FQ_WINE_NO_TRAP is set.

fq_wine_dir=${FQ_WINE_DIR:-/usr/lib/wine}

fq_wine_log() { echo "wine-env: $*" >&2; }

# Does the kernel run i386 ELF programs natively? Some kernels are built or
# booted without 32-bit emulation; an emulator registered in binfmt_misc would
# then run the 32-bit loader, far too slowly to be useful.
fq_wine_native_i386() {
  if ! "$(dirname "${BASH_SOURCE[0]}")/runs-i386.sh"; then
    FQ_WINE_WHY="the kernel runs no 32-bit x86 code (ia32 emulation off)"
    return 1
  fi
  if [ ! -x "$fq_wine_dir/wine" ]; then
    FQ_WINE_WHY="the 32-bit Wine loader (wine32:i386) is not installed"
    return 1
  fi
  # QEMU_STACK_SIZE=0 means nothing to the kernel but makes qemu-user refuse to
  # start, so this only succeeds when the kernel itself runs the loader.
  if ! QEMU_STACK_SIZE=0 timeout 20 "$fq_wine_dir/wine" --version >/dev/null 2>&1; then
    FQ_WINE_WHY="this kernel cannot execute the 32-bit Wine loader"
    return 1
  fi
  return 0
}

fq_wine_start_display() {
  local fdfile
  fdfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fdfile" >/dev/null 2>&1 &
  FQ_XVFB_PID=$!
  for _ in $(seq 100); do
    [ -s "$fdfile" ] && break
    sleep 0.1
  done
  DISPLAY=":$(head -n1 "$fdfile")"
  rm -f "$fdfile"
  export DISPLAY
}

# A prefix made earlier to start from: a copy of it boots far sooner than a
# new prefix (the guest of tools/guest/ keeps one in its image).
fq_wine_from_template() {
  cp -a "$1/." "$WINEPREFIX/" || return 1
  "$WINESERVER" -p &
  FQ_WINESERVER_PID=$!
  timeout "$2" "$FQ_WINE" wineboot >/dev/null 2>&1
}

# Boots the prefix; then ends its server once (wineboot can leave two service
# managers behind, and a client reaches either at random) and keeps a single
# persistent server for the rest of the run.
fq_wine_boot() {
  local limit=$1 template=${FQ_WINE_TEMPLATES:+$FQ_WINE_TEMPLATES/wine-$WINEARCH}
  if [ -n "$template" ] && [ -d "$template" ]; then
    fq_wine_from_template "$template" "$limit"
    return
  fi
  timeout "$limit" "$FQ_WINE" wineboot -i >/dev/null 2>&1 || return 1
  # Wine does not pick up its own TrueType fonts in a fresh prefix; without
  # Marlett the caption buttons show letters instead of their glyphs.
  cp -n "${FQ_WINE_FONTS:-/usr/share/wine/fonts}"/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" \
    2>/dev/null
  "$WINESERVER" -k 2>/dev/null
  "$WINESERVER" -p &
  FQ_WINESERVER_PID=$!
  # Without a window manager Wine waits 2 s whenever it hides a managed window.
  "$FQ_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
}

fq_wine_use_arch() {
  export WINEARCH=$1
  WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/fq-wine-$1.XXXXXX")
  export WINEPREFIX
  export WINESERVER=$fq_wine_dir/wineserver64
  [ -x "$WINESERVER" ] || WINESERVER=$fq_wine_dir/wineserver32
  if [ "$1" = win64 ]; then
    export WINELOADER=$fq_wine_dir/wine64
    # The 64-bit prefix still tries its 32-bit setup step; where qemu-user is
    # registered for i386 that step would crawl for a minute before failing.
    [ -n "$FQ_WINE_WHY" ] && export QEMU_STACK_SIZE=0
  else
    export WINELOADER=$fq_wine_dir/wine
  fi
  FQ_WINE=$WINELOADER
  export FQ_WINE
  # Wine 10's server (Debian 13) keeps its socket in /run/user/<uid>; where
  # that folder is missing and TMPDIR is set, it aborts at its start ("free():
  # invalid pointer"), and every Wine program with it. Without TMPDIR it
  # uses /tmp. The prefix above stays where TMPDIR said.
  if [ -n "${TMPDIR:-}" ] && [ ! -d "/run/user/$(id -u)" ]; then unset TMPDIR; fi
}

# The processes that run in this prefix (WINEPREFIX in their environment),
# one pid a line: one grep reads every process's environment, quick enough
# even in the emulated machine.
fq_wine_prefix_pids() {
  local environ
  for environ in $(grep -lzxF "WINEPREFIX=$WINEPREFIX" /proc/[0-9]*/environ 2>/dev/null); do
    environ=${environ#/proc/}
    echo "${environ%/environ}"
  done
}

# A Wine process caught at its start, before its server took it on, outlives
# "wineserver -k" and waits for that server's answer for ever (seen with Wine
# 10's winedevice.exe). A process of Wine's own loader that runs in this
# throwaway prefix is ours: it is ended.
fq_wine_end_strays() {
  local pid
  for pid in $(fq_wine_prefix_pids); do
    case $(readlink "/proc/$pid/exe" 2>/dev/null) in
      "$fq_wine_dir"/*) kill -KILL "$pid" 2>/dev/null ;;
    esac
  done
}

fq_wine_cleanup() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    "$WINESERVER" -k 2>/dev/null
    [ -n "${FQ_WINESERVER_PID:-}" ] && wait "$FQ_WINESERVER_PID" 2>/dev/null
    fq_wine_end_strays
    rm -rf "$WINEPREFIX"
  fi
  if [ -n "${FQ_XVFB_PID:-}" ]; then
    kill "$FQ_XVFB_PID" 2>/dev/null
    wait "$FQ_XVFB_PID" 2>/dev/null
  fi
  FQ_XVFB_PID='' FQ_WINESERVER_PID='' FQ_WINE_READY=''
}

export WINEDEBUG=${WINEDEBUG:--all}
FQ_WINE_WHY=
fq_wine_native_i386 && fq_wine_i386=yes || fq_wine_i386=
if [ -z "${FQ_WINE_ARCH:-}" ]; then
  if [ -n "$fq_wine_i386" ]; then FQ_WINE_ARCH=win32; else FQ_WINE_ARCH=win64; fi
elif [ "$FQ_WINE_ARCH" = win32 ] && [ -z "$fq_wine_i386" ]; then
  fq_wine_log "cannot run 32-bit Windows programs here: $FQ_WINE_WHY"
  return 1
fi
[ -z "${FQ_WINE_NO_TRAP:-}" ] && trap fq_wine_cleanup EXIT
fq_wine_start_display
fq_wine_use_arch "$FQ_WINE_ARCH"
if ! fq_wine_boot 180; then
  fq_wine_log "could not boot a $FQ_WINE_ARCH prefix"
  return 1
fi
export FQ_WINE_ARCH FQ_WINE_WHY
export FQ_WINE_READY=1

#!/bin/sh
# Runs in the guest while its image is built: makes the Wine prefixes, a
# 32-bit one (32-bit Windows) and a 64-bit one that runs the 32-bit program
# under WoW64 (64-bit Windows), that every run starts from a copy of
# (tools/wine-env.sh, FQ_WINE_TEMPLATES).
set -eu
templates=/var/lib/fq-guest
export WINEDEBUG=-all
mkdir -p "$templates"

Xvfb :9 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=:9
for arch in win32 win64; do
  started=$(date +%s)
  prefix=$templates/wine-$arch
  loader=/usr/lib/wine/wine
  [ "$arch" = win64 ] && loader=/usr/lib/wine/wine64
  export WINEARCH=$arch WINEPREFIX=$prefix
  rm -rf "$prefix"
  "$loader" wineboot -i
  # Wine does not pick up its own TrueType fonts in a fresh prefix; without
  # Marlett the caption buttons show letters instead of their glyphs.
  cp /usr/share/wine/fonts/*.ttf "$prefix/drive_c/windows/Fonts/"
  # Without a window manager Wine waits 2 s whenever it hides a managed window.
  "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
  # The server writes the registry out when it ends.
  timeout 60 wineserver -w || wineserver -k
  echo "$arch prefix made in $(($(date +%s) - started)) s: $(du -sm "$prefix" | cut -f1) MiB"
done
kill "$xvfb"
# Every command the guest runs starts from a copy of one (tools/guest/init.sh).
printf 'export FQ_WINE_TEMPLATES=%s\n' "$templates" >/etc/fq-guest.env

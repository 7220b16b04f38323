#!/bin/sh
# Runs in the guest while its image is built: makes the 32-bit Wine prefix
# that every run starts from a copy of (tools/wine-env.sh, FQ_WINE_TEMPLATE).
set -eu
prefix=/var/lib/fq-guest/wine-win32
export WINEARCH=win32 WINEPREFIX=$prefix WINEDEBUG=-all
rm -rf "$prefix"
mkdir -p "$(dirname "$prefix")"

Xvfb :9 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=:9
started=$(date +%s)
wine wineboot -i
# Wine does not pick up its own TrueType fonts in a fresh prefix; without
# Marlett the caption buttons show letters instead of their glyphs.
cp /usr/share/wine/fonts/*.ttf "$prefix/drive_c/windows/Fonts/"
# Without a window manager Wine waits 2 s whenever it hides a managed window.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
# The server writes the registry out when it ends.
timeout 60 wineserver -w || wineserver -k
kill "$xvfb"
# Every command the guest runs starts from a copy of it (tools/guest/init.sh).
printf 'export FQ_WINE_TEMPLATE=%s FQ_WINE_TEMPLATE_ARCH=win32\n' "$prefix" >/etc/fq-guest.env
echo "prefix made in $(($(date +%s) - started)) s: $(du -sm "$prefix" | cut -f1) MiB"

#!/bin/sh
# Runs a Windows program under Wine in a 32-bit prefix of the build's own.
# Usage: wine-run.sh PREFIX_DIR PROGRAM [ARGS...]
set -e
prefix=$1
shift
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The marker names the set-up's version: an older prefix is set up again.
if [ ! -f "$prefix/.ready-2" ]; then
  mkdir -p "$(dirname "$prefix")"
  # Several tests may start at once; only one of them makes the prefix.
  flock "$prefix.lock" sh -c '
    if [ ! -f "$WINEPREFIX/.ready-2" ]; then
      echo "wine-run: making the Wine prefix $WINEPREFIX" >&2
      wineboot -i >/dev/null 2>&1 || true
      wineserver -w
      # Draw window captions without a window manager (screenshots).
      wine reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1 || true
      # Fonts as on Windows: Debian'"'"'s Wine finds neither its Tahoma nor
      # its Marlett (fonts-wine puts them where fontconfig does not look).
      # Carlito has Tahoma'"'"'s widths closely enough for the dialogs to wrap
      # as they do on Windows; Marlett draws the caption buttons.
      wine reg add "HKCU\\Software\\Wine\\Fonts\\Replacements" /v Tahoma /d Carlito /f >/dev/null 2>&1 || true
      cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" || exit 1
      wineserver -w
      touch "$WINEPREFIX/.ready-2"
    fi'
fi
exec wine "$@"

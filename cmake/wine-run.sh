#!/bin/sh
# Runs a Windows program under Wine in a prefix of the build's own: 32-bit,
# or 64-bit when WINEARCH=win64 (the 64-bit test build). PROGRAM
# "wineserver" runs that Wine's server instead (wine-run.sh PREFIX wineserver -w).
# Usage: wine-run.sh PREFIX_DIR PROGRAM [ARGS...]
set -e
prefix=$1
shift
export WINEPREFIX="$prefix" WINEARCH="${WINEARCH:-win32}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINE_LOADER=wine WINE_SERVER=wineserver
# Wine names Unix files in the locale's character set: with none set (a bare CI shell) that is ASCII, and a Windows
# program could make no file named beyond it. UTF-8 then, which leaves the ANSI code page as Wine's default.
[ -n "${LC_ALL:-}${LC_CTYPE:-}${LANG:-}" ] || export LANG=C.UTF-8
# Debian's wine script prefers the 32-bit loader whenever it is installed.
if [ "$WINEARCH" = win64 ]; then
  export WINE_LOADER=/usr/lib/wine/wine64 WINE_SERVER=/usr/lib/wine/wineserver64
  export WINELOADER=$WINE_LOADER WINESERVER=$WINE_SERVER
fi
if [ "$1" = wineserver ]; then shift; exec "$WINE_SERVER" "$@"; fi
# The marker names the set-up's version: an older prefix is set up again.
if [ ! -f "$prefix/.ready-2" ]; then
  mkdir -p "$(dirname "$prefix")"
  # Several tests may start at once; only one of them makes the prefix.
  flock "$prefix.lock" sh -c '
    if [ ! -f "$WINEPREFIX/.ready-2" ]; then
      echo "wine-run: making the Wine prefix $WINEPREFIX" >&2
      "$WINE_LOADER" wineboot -i >/dev/null 2>&1 || true
      "$WINE_SERVER" -w
      # Draw window captions without a window manager (screenshots).
      "$WINE_LOADER" reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1 || true
      # Fonts as on Windows: Debian'"'"'s Wine finds neither its Tahoma nor
      # its Marlett (fonts-wine puts them where fontconfig does not look).
      # Carlito has Tahoma'"'"'s widths closely enough for the dialogs to wrap
      # as they do on Windows; Marlett draws the caption buttons.
      "$WINE_LOADER" reg add "HKCU\\Software\\Wine\\Fonts\\Replacements" /v Tahoma /d Carlito /f >/dev/null 2>&1 || true
      cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" || exit 1
      "$WINE_SERVER" -w
      touch "$WINEPREFIX/.ready-2"
    fi'
fi
exec "$WINE_LOADER" "$@"

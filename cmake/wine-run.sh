#!/bin/sh
# Runs a Windows program under Wine in a 32-bit prefix of the build's own.
# Usage: wine-run.sh PREFIX_DIR PROGRAM [ARGS...]
set -e
prefix=$1
shift
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$prefix/.ready" ]; then
  mkdir -p "$(dirname "$prefix")"
  # Several tests may start at once; only one of them makes the prefix.
  flock "$prefix.lock" sh -c '
    if [ ! -f "$WINEPREFIX/.ready" ]; then
      echo "wine-run: making the Wine prefix $WINEPREFIX" >&2
      wineboot -i >/dev/null 2>&1 || true
      wineserver -w
      # Draw window captions without a window manager (screenshots).
      wine reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1 || true
      wineserver -w
      touch "$WINEPREFIX/.ready"
    fi'
fi
exec wine "$@"

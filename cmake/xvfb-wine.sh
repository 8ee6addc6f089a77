#!/bin/sh
# Runs a Windows test program under Wine on the current X display, then waits
# until that Wine session has ended, so that the display can go away safely.
# Usage: xvfb-wine.sh WINE_RUN PREFIX PROGRAM [ARGS...]
wine_run=$1
prefix=$2
shift 2
"$wine_run" "$prefix" "$@"
rc=$?
"$wine_run" "$prefix" wineserver -w
exit $rc

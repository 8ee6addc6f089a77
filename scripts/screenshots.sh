#!/bin/sh
# The README's screenshots, in English and Russian: the Windows program's main
# dialog with a file loaded (docs/dialog-en.png, docs/dialog-ru.png: the win32
# build's tovacrex.exe under Wine in a virtual X server of its own) and the
# browser edition with the samples dropped on it and their XviD group converted
# (docs/web-en.png, docs/web-ru.png: build/web/tovacrex.html in headless
# Chromium, scripts/devtools.py). The tests make none of them.
# Usage: scripts/screenshots.sh [--windows | --web] [BUILD_DIR]
#   both unless one is named; BUILD_DIR: the win32 build (default build/win32)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
wine_run=$root/cmake/wine-run.sh

# capture BUILD_DIR LANGUAGE OUTPUT: runs inside the X server.
capture() {
  prefix=$1/wineprefix-screenshots
  "$wine_run" "$prefix" reg add 'HKCU\Software\Quenmoor\Tovacrex' /v Language /t REG_DWORD /d "$2" /f >/dev/null 2>&1
  "$wine_run" "$prefix" "$1/windows/tovacrex.exe" 'C:\Films\holiday.avi' &
  pid=$!
  i=0
  until xdotool search --name 'Tovacrex v1\.7' >/dev/null 2>&1; do
    i=$((i + 1))
    if [ $i -ge 300 ]; then
      echo "screenshots: the dialog did not appear" >&2
      kill $pid 2>/dev/null || true
      exit 1
    fi
    sleep 0.1
  done
  sleep 1  # let it finish painting
  import -window root "$3.full.png"
  # The screen is black around the one window: trim to it.
  convert "$3.full.png" -trim +repage "$3"
  rm -f "$3.full.png"
  kill $pid 2>/dev/null || true
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  wait $pid 2>/dev/null || true
  echo "screenshots: wrote $3"
}

if [ "${1:-}" = "--inside-x" ]; then
  capture "$2" 0 "$root/docs/dialog-en.png"
  capture "$2" 1 "$root/docs/dialog-ru.png"
  exit 0
fi

what=both
case "${1:-}" in
  --windows) what=windows; shift ;;
  --web) what=web; shift ;;
esac

if [ $what != windows ]; then
  page=$root/build/web/tovacrex.html
  [ -f "$page" ] || {
    echo "screenshots: $page is missing; make it with cmake --workflow --preset web" >&2
    exit 1
  }
  samples=$(mktemp -d)
  cp "$root"/samples/*.avi "$samples/"
  bash -c '. "$1/scripts/ffmpeg-files.sh" && make_ffmpeg_files screenshots.sh "$2"' sh "$root" "$samples"
  /usr/bin/python3 "$root/scripts/devtools.py" "$page" "$samples" "$root/docs"
  rm -rf "$samples"
fi
[ $what = web ] && exit 0

build=$(cd "${1:-$root/build/win32}" && pwd)
[ -f "$build/windows/tovacrex.exe" ] || {
  echo "screenshots: $build/windows/tovacrex.exe is missing; build the win32 preset first" >&2
  exit 1
}
for tool in xvfb-run xdotool import convert ffmpeg wine; do
  command -v $tool >/dev/null || { echo "screenshots: $tool is missing (see scripts/install-deps.sh)" >&2; exit 1; }
done

# A short DivX 3 film on the prefix's C: drive, so that the File field reads well.
prefix=$build/wineprefix-screenshots
"$wine_run" "$prefix" cmd /c exit >/dev/null 2>&1 || true
# That Wine session has no display; let it end before the X server's starts.
WINEPREFIX=$prefix wineserver -w
mkdir -p "$prefix/drive_c/Films" "$root/docs"
ffmpeg -loglevel error -y -f lavfi -i testsrc=size=320x240:rate=10 -t 1 -c:v msmpeg4 -vtag div3 \
  "$prefix/drive_c/Films/holiday.avi"

xvfb-run -a -s "-screen 0 1024x768x24" "$0" --inside-x "$build"

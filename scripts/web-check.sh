#!/usr/bin/env bash
# The browser edition's tests against the command line CLI, on what
# `cmake --workflow --preset web` made in build/web. ctest runs both, after
# making the page (tests/web/CMakeLists.txt, label web).
#
#   scripts/web-check.sh CLI module [COUNT]   the module under Node (tests/web/same_as_cli.js): the
#       samples, the fuzz regressions, ffmpeg-made files and COUNT damaged variants of them (default
#       5000) must each give the object `tovacrex-cli info --json` prints, byte for byte
#   scripts/web-check.sh CLI page [FILES]     tovacrex.html in headless Chromium (tests/web/browser.py),
#       with a folder of FILES small files (default 40)
set -euo pipefail
cli=$(realpath "$1")
cd "$(dirname "$0")/.."
. scripts/ffmpeg-files.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp samples/*.avi "$work/"
make_ffmpeg_files web-check.sh "$work"
make_matroska_files "$work"
case "$2" in
  module)
    for f in tests/regressions/*.bin; do cp "$f" "$work/$(basename "$f" .bin).avi"; done
    scripts/damaged-variants.py "$work" "${3:-5000}"
    node tests/web/same_as_cli.js build/web/web/tovacrex-module.js web/files.js "$cli" "$work" ;;
  page)
    /usr/bin/python3 tests/web/browser.py build/web/tovacrex.html "$cli" "$work" "${3:-40}" ;;
  *) echo "web-check.sh: the part to run is module or page, not '$2'" >&2; exit 2 ;;
esac

#!/usr/bin/env bash
# The browser module against the command line, under Node: the samples, the
# fuzz regressions, ffmpeg-made files and COUNT damaged variants of them must
# each give the object `tovacrex-cli info --json` prints, byte for byte.
# Then tovacrex.html in headless Chromium (tests/web/browser.py), with a
# folder of FILES small files; last, its screenshots in docs/ (scripts/devtools.py).
# Needs build/native (the command line) and build/web (cmake --workflow --preset web).
#
#   scripts/web-check.sh [COUNT [FILES]]     default 5000 and 40
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ffmpeg-files.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp samples/*.avi "$work/"
for f in tests/regressions/*.bin; do cp "$f" "$work/$(basename "$f" .bin).avi"; done
make_ffmpeg_files web-check.sh "$work"
scripts/damaged-variants.py "$work" "${1:-5000}"
node tests/web/same_as_cli.js build/web/web/tovacrex-module.js web/files.js build/native/cli/tovacrex-cli "$work"
samples=$work/samples
mkdir "$samples"
cp samples/*.avi "$samples/"
make_ffmpeg_files web-check.sh "$samples"
/usr/bin/python3 tests/web/browser.py build/web/tovacrex.html build/native/cli/tovacrex-cli "$samples" "${2:-40}"
/usr/bin/python3 scripts/devtools.py build/web/tovacrex.html "$samples" docs

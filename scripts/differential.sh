#!/usr/bin/env bash
# The long run of the reader over damaged variants of the seeds, the sample
# and ffmpeg-made files, AVI and Matroska (the test suite runs 6,000 of them,
# without the ffmpeg-made files): each walk ends, never writes, and walks the
# same with read-ahead as without; every fortieth also goes through the driver.
#   scripts/differential.sh [COUNT]     default 100000
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ffmpeg-files.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
make_ffmpeg_files differential "$work"
make_matroska_files "$work"
cmake --preset native -DTOVACREX_TESTS=ON >/dev/null
cmake --build --preset native --target test_avi >/dev/null
echo "differential: $(ls "$work" | wc -l) ffmpeg-made files, ${1:-100000} damaged variants in all"
TOVACREX_DIFF_FILES=$work TOVACREX_DIFF_COUNT=${1:-100000} \
  build/native/tests/test_avi --gtest_filter=DamagedFiles.ReaderDriverAndReadAhead --gtest_brief=1

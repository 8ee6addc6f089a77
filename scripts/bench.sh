#!/usr/bin/env bash
# The reader's own figures, in one run of bench/avi_bench (Release build
# in build/bench-avi), on files in the page cache:
#   - a clean analysis of a 1 MiB file and of a sparse 5 GiB file with the
#     same header area: time and calls on the file stream;
#   - the scan of a damaged file (garbage after the first header chunk) with
#     the walker's read-ahead and without it: MB/s and the speed-up.
# With --tools, also runs scripts/bench-tools.sh (tovacrex-cli against
# ffprobe, mediainfo and ffmpeg on a 1.1 GiB AVI).
#
#   scripts/bench.sh [--damaged-mib N] [--tools] [--keep DIR]
set -euo pipefail
cd "$(dirname "$0")/.."

damaged_mib=64
tools=0
keep=""
while [ $# -gt 0 ]; do
  case "$1" in
    --damaged-mib) damaged_mib=$2; shift 2 ;;
    --tools) tools=1; shift ;;
    --keep) keep=$2; shift 2 ;;
    *) echo "bench.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
[ -f /usr/include/benchmark/benchmark.h ] || {
  echo "bench.sh: Google Benchmark is missing (apt-get install libbenchmark-dev)" >&2; exit 1; }

cmake -S . -B build/bench-avi -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/bench-avi -j2 --target avi_bench >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build/bench-avi/bench/avi_bench --damaged-mib="$damaged_mib" --dir="$work"

if [ "$tools" = 1 ]; then
  echo
  if [ -n "$keep" ]; then scripts/bench-tools.sh --keep "$keep"; else scripts/bench-tools.sh; fi
fi

#!/usr/bin/env bash
# Builds the libFuzzer targets (preset fuzz) and runs them.
#
#   scripts/fuzz.sh --short      45 seconds per target (FUZZ_SECONDS to change)
#   scripts/fuzz.sh --long N     a campaign of N executions in total, one
#                                process at a time, shared out by target speed
#                                (FUZZ_MAX_LEN: longest input, 1024 by default)
#
# Every run first replays tests/regressions/*.bin. The corpus grows in
# BUILD/corpus/TARGET and starts from generated seeds (fuzz_seeds) and from
# small files ffmpeg writes (TOVACREX_SKIP_FFMPEG=1 leaves those out). A finding is left in
# BUILD/findings/ and fails the run. BUILD is $FUZZ_BUILD_DIR or build/fuzz.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=""
total=0
case "${1:-}" in
  --short) mode=short ;;
  --long) mode=long; total=${2:?--long needs a number of executions} ;;
  *) sed -n '2,12p' "$0"; exit 2 ;;
esac

build=${FUZZ_BUILD_DIR:-build/fuzz}
seconds=${FUZZ_SECONDS:-45}
targets=(fuzz_reader fuzz_driver fuzz_mkv)
# The driver (fuzz_driver, and fuzz_mkv from Matroska files) does an analysis
# and up to a dozen conversions and analyses per input; the reader one scan.
# Share a campaign out accordingly.
declare -A share=([fuzz_reader]=60 [fuzz_driver]=10 [fuzz_mkv]=30)

cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}" fuzz_seeds

seeds="$build/seeds"
rm -rf "$seeds"
"$build/tests/fuzz/fuzz_seeds" "$seeds/generated"
mkdir -p "$seeds/ffmpeg"
. scripts/ffmpeg-files.sh
make_ffmpeg_files fuzz.sh "$seeds/ffmpeg"
cp samples/*.avi "$seeds/ffmpeg/" 2>/dev/null || true
# Matroska seeds: mkvmerge's and ffmpeg's of the same, and a live file.
mkdir -p "$seeds/mkv"
make_matroska_files "$seeds/ffmpeg" "$seeds/mkv"

findings="$build/findings"
mkdir -p "$findings"
status=0
summary=()
for t in "${targets[@]}"; do
  exe="$build/tests/fuzz/$t"
  corpus="$build/corpus/$t"
  mkdir -p "$corpus"
  log="$build/$t.log"

  echo "=== $t: replaying tests/regressions"
  if ls tests/regressions/*.bin >/dev/null 2>&1; then
    "$exe" tests/regressions/*.bin >"$log" 2>&1 || { cat "$log"; echo "fuzz.sh: $t fails a kept regression" >&2; exit 1; }
  fi

  # A damaged file is walked two bytes per read, so the cost of an input
  # grows with its length; the campaign keeps inputs to the header area's
  # size, the short run lets whole ffmpeg-made files through.
  limit=(-max_total_time="$seconds" -max_len="${FUZZ_MAX_LEN:-8192}")
  if [ "$mode" = long ]; then
    limit=(-runs=$(( total * ${share[$t]} / 100 )) -max_len="${FUZZ_MAX_LEN:-1024}")
  fi
  echo "=== $t: ${limit[*]}"
  start=$(date +%s)
  set +e
  inputs=("$seeds/generated" "$seeds/ffmpeg") dict=(-dict=tests/fuzz/avi.dict)
  [ $t = fuzz_mkv ] && inputs=("$seeds/mkv") dict=()
  "$exe" "${dict[@]}" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$findings/$t-" "${limit[@]}" "$corpus" "${inputs[@]}" >"$log" 2>&1
  rc=$?
  set -e
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  secs=$(( $(date +%s) - start ))
  if [ $rc -ne 0 ]; then
    tail -40 "$log"
    summary+=("$t: FINDING after ${runs:-?} executions in ${secs} s (see $findings, $log)")
    status=1
  else
    summary+=("$t: ${runs:-?} executions in ${secs} s, no finding")
  fi
done

echo
printf '  %s\n' "${summary[@]}"
exit $status

#!/usr/bin/env bash
# Side by side, in one run, on the same generated AVI of at least 1 GiB:
#   tovacrex-cli info     against ffprobe and mediainfo,
#   tovacrex-cli convert  against ffmpeg -c copy -vtag (a rewrite of the file).
# Prints the best of several runs of each, the ratios, and whether info is at
# least 50 times faster than each of ffprobe and mediainfo.
#
#   scripts/bench-tools.sh [--size-mib N] [--runs N] [--keep DIR]
set -euo pipefail
cd "$(dirname "$0")/.."

size_mib=1100
runs=5
work=""
while [ $# -gt 0 ]; do
  case "$1" in
    --size-mib) size_mib=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --keep) work=$2; shift 2 ;;
    *) echo "bench-tools.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
. scripts/bench-common.sh
bench_setup bench-tools.sh ffmpeg ffprobe mediainfo
mkdir -p "$work"
big=$work/big.avi
if [ ! -f "$big" ] || [ "$(stat -c %s "$big")" -lt $((size_mib * 1024 * 1024)) ]; then
  echo "making a ${size_mib} MiB AVI (MPEG-4 \"DX50\", OpenDML) in $work ..."
  ffmpeg -v error -y -f lavfi -i testsrc=size=640x480:rate=25 -f lavfi -i sine=frequency=440:sample_rate=44100 \
    -t 20 -c:v mpeg4 -vtag DX50 -b:v 40M -maxrate 40M -bufsize 8M -c:a pcm_s16le "$work/clip.avi"
  ffmpeg -v error -y -stream_loop -1 -i "$work/clip.avi" -c copy -fs $((size_mib * 1024 * 1024)) "$big"
fi
bytes=$(stat -c %s "$big")
echo "tovacrex-cli: $(ldd "$cli" 2>&1 | grep -c "=>") shared libraries"
echo "file: $(( bytes / 1024 / 1024 )) MiB, $("$cli" info "$big" | sed 's/^[^:]*: //')"
cat "$big" > /dev/null  # everyone reads from the page cache

best_ms() { best_time 1e3 "$@"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.0f", a / b }'; }

info_ms=$(best_ms "$cli" info "$big")
probe=$(best_ms ffprobe -v error -show_streams "$big")
mi=$(best_ms mediainfo "$big")

# convert: one conversion there and one back per run, so the file ends as it began.
conv_pair=$(best_ms sh -c "'$cli' convert --to 'divx 4' '$big' && '$cli' convert --to 'divx 5' '$big'")
conv=$(awk -v t="$conv_pair" 'BEGIN { printf "%.3f", t / 2 }')
copy_runs=$runs; runs=1
copy=$(best_ms ffmpeg -v error -y -i "$big" -c copy -vtag DIVX "$work/copy.avi")
runs=$copy_runs
rm -f "$work/copy.avi"

printf '\n%-44s %12s %10s\n' "operation (best of $runs; ffmpeg copy: 1 run)" "ms" "ratio"
printf '%-44s %12s %10s\n' "tovacrex-cli info" "$info_ms" "1"
printf '%-44s %12s %9sx\n' "ffprobe -show_streams" "$probe" "$(ratio "$probe" "$info_ms")"
printf '%-44s %12s %9sx\n' "mediainfo" "$mi" "$(ratio "$mi" "$info_ms")"
printf '%-44s %12s %10s\n' "tovacrex-cli convert (analyse, write, check)" "$conv" "1"
printf '%-44s %12s %9sx\n' "ffmpeg -c copy -vtag DIVX (new file)" "$copy" "$(ratio "$copy" "$conv")"

goal=50
least_ratio=$(awk -v a="$probe" -v b="$mi" -v t="$info_ms" 'BEGIN { r = a / t; if (b / t < r) r = b / t; printf "%.0f", r }')
if [ "$least_ratio" -ge "$goal" ]; then verdict="met"; else verdict="NOT met"; fi
printf '\ninfo against the nearer of ffprobe and mediainfo: %sx (goal %sx: %s)\n' "$least_ratio" "$goal" "$verdict"

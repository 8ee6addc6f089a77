#!/usr/bin/env bash
# A collection of 10,000 small AVI files in 100 folders, page cache warm:
#   tovacrex-cli info -r --json   against   mediainfo --Output=JSON, per folder tree;
#   tovacrex-cli convert -r --json, then undo of its record: time per file,
#   with the flush to disk and without it (fsync replaced by a no-op through
#   LD_PRELOAD, for this measurement only), and whether the round trip gave
#   back every byte.
#
#   scripts/bench-collection.sh [--folders N] [--files N] [--runs N] [--keep DIR]
set -euo pipefail
cd "$(dirname "$0")/.."

folders=100
per_folder=100
runs=3
work=""
while [ $# -gt 0 ]; do
  case "$1" in
    --folders) folders=$2; shift 2 ;;
    --files) per_folder=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --keep) work=$2; shift 2 ;;
    *) echo "bench-collection.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
. scripts/bench-common.sh
bench_setup bench-collection.sh ffmpeg mediainfo g++
tree=$work/tree
files=$((folders * per_folder))
if [ "$(find "$tree" -name '*.avi' 2>/dev/null | wc -l)" -ne "$files" ]; then
  rm -rf "$tree"
  mkdir -p "$tree"
  ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=10 -t 1 -c:v mpeg4 -vtag XVID "$work/clip.avi"
  for f in $(seq -w 1 "$folders"); do
    mkdir "$tree/folder$f"
    for n in $(seq -w 1 "$per_folder"); do cp "$work/clip.avi" "$tree/folder$f/clip$n.avi"; done
  done
fi
echo "$files files of $(stat -c %s "$work/clip.avi") bytes in $folders folders ($(du -sh "$tree" | cut -f1)), $(df --output=fstype "$tree" | tail -1)"
# A stand-in for fsync that does nothing: the same run without the flush.
printf 'extern "C" int fsync(int) { return 0; }\n' | g++ -x c++ -shared -fPIC -O2 -o "$work/nofsync.so" -

seconds() { best_time 1e6 "$@"; }
per_file_us() { awk -v s="$1" -v n="$files" 'BEGIN { printf "%.1f", s * 1e6 / n }'; }

"$cli" info -r "$tree" >/dev/null 2>&1 || true  # warm the cache
info=$(seconds "$cli" info -r --json "$tree")
runs_before=$runs; runs=1
mi=$(seconds mediainfo --Output=JSON "$tree")
runs=$runs_before
ratio=$(awk -v a="$mi" -v b="$info" 'BEGIN { printf "%.0f", a / b }')

sum_before=$(cat "$tree"/*/*.avi | md5sum)
# The flush's cost is measured on the dynamically linked build, the only one
# whose fsync a preloaded stand-in can replace.
dynamic=$PWD/build/bench/cli/tovacrex-cli-dynamic
cmake --build build/bench -j2 --target tovacrex-cli-dynamic >/dev/null
round_trip() {  # RECORD_OPTION [env ...]: convert to DivX 5 and back through the record; prints the two times
  local record=$1 t0 t1 t2 tool=$cli; shift
  [ $# -gt 0 ] && tool=$dynamic
  rm -f "$work/run.jsonl"
  t0=${EPOCHREALTIME/[.,]/}
  "$@" "$tool" convert -r --json "$record" --to "DivX 5" "$tree" >"$work/record.json"
  t1=${EPOCHREALTIME/[.,]/}
  "$@" "$tool" undo "$work/record.json" >/dev/null 2>&1
  t2=${EPOCHREALTIME/[.,]/}
  awk -v a=$((t1 - t0)) -v b=$((t2 - t1)) 'BEGIN { printf "%.3f %.3f\n", a / 1e6, b / 1e6 }'
}
# The write-ahead record on and off, alternately, the best of $runs each.
conv="" conv_off=""
for _ in $(seq "$runs"); do
  read -r c undo < <(round_trip --record="$work/run.jsonl")
  [ -z "$conv" ] || awk -v a="$c" -v b="$conv" 'BEGIN { exit !(a < b) }' && conv=$c
  read -r c undo_off < <(round_trip --no-record)
  [ -z "$conv_off" ] || awk -v a="$c" -v b="$conv_off" 'BEGIN { exit !(a < b) }' && conv_off=$c
done
same=$([ "$(cat "$tree"/*/*.avi | md5sum)" = "$sum_before" ] && echo "yes" || echo "NO")
read -r conv_dyn undo_dyn < <(round_trip --no-record env)
read -r conv_nf undo_nf < <(round_trip --no-record env LD_PRELOAD="$work/nofsync.so")

printf '\n%-52s %10s %12s\n' "operation ($files files)" "s" "µs per file"
printf '%-52s %10s %12s\n' "tovacrex-cli info -r --json (best of $runs)" "$info" "$(per_file_us "$info")"
printf '%-52s %10s %12s\n' "mediainfo --Output=JSON (1 run)" "$mi" "$(per_file_us "$mi")"
printf '%-52s %10s %12s\n' "tovacrex-cli convert -r --json, flushed, record" "$conv" "$(per_file_us "$conv")"
printf '%-52s %10s %12s\n' "the same with --no-record" "$conv_off" "$(per_file_us "$conv_off")"
printf '%-52s %10s %12s\n' "tovacrex-cli undo, flushed" "$undo" "$(per_file_us "$undo")"
printf '%-52s %10s %12s\n' "no record, dynamically linked, flushed" "$conv_dyn / $undo_dyn" ""
printf '%-52s %10s %12s\n' "no record, dynamically linked, no flush" "$conv_nf / $undo_nf" ""
printf '\ninfo against mediainfo: %sx (goal 50x: %s)\n' "$ratio" "$([ "$ratio" -ge 50 ] && echo met || echo "NOT met")"
printf 'the flush costs %s µs per file on convert, %s µs on undo\n' \
  "$(awk -v a="$conv_dyn" -v b="$conv_nf" -v n="$files" 'BEGIN { printf "%.0f", (a - b) * 1e6 / n }')" \
  "$(awk -v a="$undo_dyn" -v b="$undo_nf" -v n="$files" 'BEGIN { printf "%.0f", (a - b) * 1e6 / n }')"
printf 'the write-ahead record costs %s%% on convert (goal: at most 10%%)\n' \
  "$(awk -v a="$conv" -v b="$conv_off" 'BEGIN { printf "%+.1f", (a / b - 1) * 100 }')"
echo "convert and undo gave back every byte: $same"

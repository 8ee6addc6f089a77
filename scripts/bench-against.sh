#!/usr/bin/env bash
# This build against an earlier one (REV, a commit), side by side in one run
# on this machine, page cache warm; the same benchmark code measures both:
#   - info -r --json over 10,000 small AVIs in 100 folders, and mediainfo on
#     the same tree;
#   - convert -r --to "DivX 5" --no-record and undo of its --json output over
#     the same tree, each write flushed;
#   - bench_large: 256 MiB of empty 8-byte chunks before "movi";
#   - avi_bench: the damaged-file scan with read-ahead;
#   - the same answers: info --json over the samples, the fuzz regressions,
#     ffmpeg-made files and damaged variants of them all, from both builds,
#     compared byte for byte.
#
#   scripts/bench-against.sh [--rev REV] [--folders N] [--files N] [--variants N] [--runs N]
set -euo pipefail
cd "$(dirname "$0")/.."

rev=5fb3245  # the last build before the work on speed
folders=100
per_folder=100
variants=5000
runs=3
while [ $# -gt 0 ]; do
  case "$1" in
    --rev) rev=$2; shift 2 ;;
    --folders) folders=$2; shift 2 ;;
    --files) per_folder=$2; shift 2 ;;
    --variants) variants=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    *) echo "bench-against.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
for tool in ffmpeg mediainfo python3 git; do
  command -v "$tool" >/dev/null || { echo "bench-against.sh: $tool is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
done
[ -f /usr/include/benchmark/benchmark.h ] || { echo "bench-against.sh: Google Benchmark is missing (apt-get install libbenchmark-dev)" >&2; exit 1; }
. scripts/bench-common.sh
. scripts/ffmpeg-files.sh
work=$(mktemp -d -p /var/tmp)
trap 'rm -rf "$work"; git worktree remove --force "$old_src" 2>/dev/null || true' EXIT

# Both builds, Release, with this checkout's benchmark code.
old_src=$work/old-src
git worktree add --detach -q "$old_src" "$rev"
rm -rf "$old_src/bench" && cp -r bench "$old_src/bench"
build() {  # SOURCE BUILD
  cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++ -DTOVACREX_TESTS=OFF >/dev/null
  cmake --build "$2" -j2 --target tovacrex-cli avi_bench bench_large >/dev/null
}
echo "building $rev and this checkout ($(git rev-parse --short HEAD)$(git diff --quiet HEAD || echo ", with changes"))"
build "$old_src" "$work/old"
build . build/bench-against
old=$work/old new=$PWD/build/bench-against
echo "machine: $(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1), $(uname -r)"

# ---- the same answers
answers=$work/answers
mkdir -p "$answers"
cp samples/*.avi "$answers/"
for f in tests/regressions/*.bin; do cp "$f" "$answers/$(basename "$f" .bin).avi"; done
make_ffmpeg_files bench-against.sh "$answers"
scripts/damaged-variants.py "$answers" "$variants"
"$old/cli/tovacrex-cli" info -r --json "$answers" >"$work/answers-old.json" 2>/dev/null || true
"$new/cli/tovacrex-cli" info -r --json "$answers" >"$work/answers-new.json" 2>/dev/null || true
files_compared=$(ls "$answers" | wc -l)
if cmp -s "$work/answers-old.json" "$work/answers-new.json"; then same="yes, all $files_compared files"; else same="NO: $(diff "$work/answers-old.json" "$work/answers-new.json" | head -5)"; fi

# ---- the collection
tree=$work/tree
files=$((folders * per_folder))
mkdir -p "$tree"
ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=10 -t 1 -c:v mpeg4 -vtag XVID "$work/clip.avi"
for f in $(seq -w 1 "$folders"); do
  mkdir "$tree/folder$f"
  for n in $(seq -w 1 "$per_folder"); do cp "$work/clip.avi" "$tree/folder$f/clip$n.avi"; done
done
sync
seconds() { best_time 1e6 "$@"; }
"$new/cli/tovacrex-cli" info -r "$tree" >/dev/null 2>&1 || true  # warm the cache
info_old=$(seconds "$old/cli/tovacrex-cli" info -r --json "$tree")
info_new=$(seconds "$new/cli/tovacrex-cli" info -r --json "$tree")
runs_before=$runs; runs=1
mi=$(seconds mediainfo --Output=JSON "$tree")
runs=$runs_before
sum_before=$(cat "$tree"/*/*.avi | md5sum)
round_trip() {  # CLI: convert and undo; prints the two times in seconds
  local t0 t1 t2
  t0=${EPOCHREALTIME/[.,]/}
  "$1" convert -r --json --no-record --to "DivX 5" "$tree" >"$work/record.json"
  t1=${EPOCHREALTIME/[.,]/}
  "$1" undo "$work/record.json" >/dev/null 2>&1
  t2=${EPOCHREALTIME/[.,]/}
  awk -v a=$((t1 - t0)) -v b=$((t2 - t1)) 'BEGIN { printf "%.3f %.3f\n", a / 1e6, b / 1e6 }'
}
best() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a < b) ? a : b }'; }
conv_old="" undo_old="" conv_new="" undo_new=""
for _ in $(seq "$runs"); do  # alternately, the best of each
  read -r c u < <(round_trip "$old/cli/tovacrex-cli"); conv_old=$(best "$c" "$conv_old"); undo_old=$(best "$u" "$undo_old")
  read -r c u < <(round_trip "$new/cli/tovacrex-cli"); conv_new=$(best "$c" "$conv_new"); undo_new=$(best "$u" "$undo_new")
done
round_same=$([ "$(cat "$tree"/*/*.avi | md5sum)" = "$sum_before" ] && echo yes || echo NO)
rm -rf "$tree"

# ---- large header areas and the damaged scan
large() { "$1/bench/bench_large" "$work/large" 256 | sed -n 's/.*analysis \([0-9.]*\) s, peak memory \([0-9]*\) KiB.*/\1 \2/p'; }
read -r large_old mem_old < <(large "$old")
read -r large_new mem_new < <(large "$new")
scan() {  # MB/s of the damaged scan with read-ahead, the best of three runs
  local b=""
  for _ in 1 2 3; do
    b=$(best "-$("$1/bench/avi_bench" --damaged-mib=64 --dir="$work" --benchmark_filter=damaged_scan/read_ahead 2>/dev/null |
      sed -n 's/.*damaged scan, read-ahead *\([0-9.]*\) MB\/s.*/\1/p')" "$b")
  done
  echo "${b#-}"
}
scan_old=$(scan "$old")
scan_new=$(scan "$new")

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", a / b }'; }
printf '\n%-58s %10s %10s %8s\n' "job ($files files; best of $runs)" "$rev" "now" "speed-up"
printf '%-58s %10s %10s %8s\n' "info -r --json, s" "$info_old" "$info_new" "$(ratio "$info_old" "$info_new")x"
printf '%-58s %10s %10s %8s\n' "convert -r --json --no-record, flushed, s" "$conv_old" "$conv_new" "$(ratio "$conv_old" "$conv_new")x"
printf '%-58s %10s %10s %8s\n' "undo of its output, flushed, s" "$undo_old" "$undo_new" "$(ratio "$undo_old" "$undo_new")x"
printf '%-58s %10s %10s %8s\n' "256 MiB of 8-byte chunks, s (peak KiB: $mem_old / $mem_new)" "$large_old" "$large_new" "$(ratio "$large_old" "$large_new")x"
printf '%-58s %10s %10s %8s\n' "damaged scan with read-ahead, MB/s" "$scan_old" "$scan_new" "$(ratio "$scan_new" "$scan_old")x"
printf '\nmediainfo --Output=JSON on the same tree: %s s; info -r is %sx faster (goal 100x)\n' "$mi" "$(ratio "$mi" "$info_new")"
echo "the same answers from both builds: $same"
echo "convert and undo gave back every byte: $round_same"

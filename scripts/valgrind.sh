#!/usr/bin/env bash
# Runs the command line under valgrind (memcheck, full leak check) over test
# files: the sample, files ffmpeg writes (when installed), and damaged,
# empty, foreign and missing files; each command also converts and back.
# Fails on any memory error or leak.
#
#   scripts/valgrind.sh [BUILD_DIR]     default build/native
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/native}
# The same code linked dynamically: valgrind cannot follow the start-up code
# of the fully static tovacrex-cli.
cli="$build/cli/tovacrex-cli-dynamic"
[ -x "$cli" ] || { echo "valgrind.sh: $cli not built" >&2; exit 2; }
command -v valgrind >/dev/null || { echo "valgrind.sh: valgrind not installed" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cp samples/sample.avi "$work/sample.avi"
head -c 300 samples/sample.avi >"$work/truncated.avi"
head -c 11 samples/sample.avi >"$work/eleven-bytes.avi"
: >"$work/empty.avi"
printf 'RIFX\0\0\0\0AVI junk' >"$work/not-riff.avi"
{ head -c 200 samples/sample.avi; printf '#garbage#'; tail -c +201 samples/sample.avi; } >"$work/damaged.avi"
if [ "${TOVACREX_SKIP_FFMPEG:-}" = 1 ]; then
  echo "valgrind.sh: SKIPPED the ffmpeg-made files (TOVACREX_SKIP_FFMPEG=1)"
elif ! command -v ffmpeg >/dev/null; then
  echo "valgrind.sh: ffmpeg is missing (scripts/install-deps.sh installs it; TOVACREX_SKIP_FFMPEG=1 leaves those files out)" >&2
  exit 2
else
  src=(-f lavfi -i testsrc=size=32x24:rate=5 -t 0.4)
  ffmpeg -v error -y "${src[@]}" -c:v mpeg4 -vtag XVID "$work/xvid.avi"
  ffmpeg -v error -y "${src[@]}" -c:v mpeg4 -vtag DX50 "$work/dx50.avi"
  ffmpeg -v error -y "${src[@]}" -c:v msmpeg4v3 -vtag div3 "$work/div3.avi"
  ffmpeg -v error -y "${src[@]}" -c:v msmpeg4v2 -vtag mp42 "$work/mp42.avi"
  ffmpeg -v error -y "${src[@]}" -f lavfi -i sine=r=8000 -t 0.4 -c:v mpeg4 -vtag xvid -c:a pcm_u8 "$work/xvid-audio.avi"
fi

runs=0
failed=0
check() {  # the command line's own exit status does not matter here
  runs=$((runs + 1))
  local rc=0
  valgrind -q --error-exitcode=99 --leak-check=full --show-leak-kinds=all \
    --errors-for-leak-kinds=definite,indirect,possible "$cli" "$@" >"$work/out" 2>"$work/err" || rc=$?
  if [ $rc -eq 99 ] || grep -q '^==[0-9]*==' "$work/err"; then
    failed=$((failed + 1))
    echo "valgrind.sh: errors in: tovacrex-cli $*" >&2
    cat "$work/err" >&2
  fi
}

files=("$work"/*.avi "$work/missing.avi")
check codecs
check codecs --json
check --help
check info "${files[@]}"
check info --json "${files[@]}"
check convert --to "DivX V3 Fast" --dry-run "${files[@]}"
# Each file to another codec of its own group and back, whatever the group:
# a file of another group is refused, which is checked as well.
for to in 3 7 12 13 2; do check convert --to "$to" "${files[@]}"; done
for to in 6 10 5; do check convert --to "$to" --json "${files[@]}"; done

echo "valgrind.sh: $runs runs, $failed with errors or leaks"
[ $failed -eq 0 ]

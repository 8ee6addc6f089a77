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
. scripts/ffmpeg-files.sh
make_ffmpeg_files valgrind.sh "$work"

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

# Sourced by the benchmark scripts: the tools they need, the command line
# built for measuring (build/bench, no tests), and a work folder.
#   bench_setup NAME TOOL...    sets cli, and work when it is empty
bench_setup() {
  local name=$1 tool; shift
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "$name: $tool is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
  done
  cmake --preset native -B build/bench -DTOVACREX_TESTS=OFF >/dev/null
  cmake --build build/bench -j2 --target tovacrex-cli >/dev/null
  cli=$PWD/build/bench/cli/tovacrex-cli
  if [ -z "$work" ]; then
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
  fi
}

# Best wall time of $runs runs of "$@" (output and status ignored), divided
# by $1: 1e3 gives milliseconds, 1e6 seconds. The clock is bash's own:
# starting "date" for each reading cost about a millisecond, as much as a
# whole tovacrex-cli run.
best_time() {
  local unit=$1 best="" t0 t1 d; shift
  for _ in $(seq "$runs"); do
    t0=${EPOCHREALTIME/[.,]/}
    "$@" >/dev/null 2>&1 || true
    t1=${EPOCHREALTIME/[.,]/}
    d=$((t1 - t0))
    if [ -z "$best" ] || [ "$d" -lt "$best" ]; then best=$d; fi
  done
  awk -v us="$best" -v unit="$unit" 'BEGIN { printf "%.3f", us / unit }'
}

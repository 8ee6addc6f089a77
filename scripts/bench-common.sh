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

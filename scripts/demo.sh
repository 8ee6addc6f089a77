#!/usr/bin/env bash
# The main job on the built-in sample: analyse a copy of samples/sample.avi,
# convert it to another codec of its group, and back to its original codes.
set -euo pipefail
cd "$(dirname "$0")/.."
# Only what building the command line needs; the test tools are test.sh's.
scripts/install-deps.sh --demo
cmake --preset native -B build/demo -DTOVACREX_TESTS=OFF >/dev/null
cmake --build build/demo -j2 --target tovacrex-cli >/dev/null
cli=build/demo/cli/tovacrex-cli

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp samples/sample.avi "$work/sample.avi"
f=$work/sample.avi

set -x
"$cli" codecs
"$cli" info "$f"
"$cli" convert --to "divx v3 fast" --dry-run "$f"
"$cli" convert --to "DivX V3 Fast" "$f"
"$cli" info --json "$f"
"$cli" convert --to "DivX V3 Low" "$f"
"$cli" info "$f"
# The bytes that differ from the sample now (offset, octal values): the
# catalogue writes "DIV3" where the sample had "div3".
cmp -l "$f" samples/sample.avi || true

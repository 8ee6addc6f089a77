#!/usr/bin/env bash
# The whole test suite: installs what it needs, then builds and tests the
# native build, the 32-bit Windows build (under Wine) and the sanitizer build,
# then the browser edition (its module under Node, its page in headless
# Chromium), then makes and tries both packages.
#
#   scripts/test.sh                 everything
#   scripts/test.sh --skip win32    leave out a part (native, win32, asan, web,
#                                   fuzz, package); the run says what it left out
#   TOVACREX_SKIP_FFMPEG=1 scripts/test.sh
#                                   without the checks on ffmpeg-made files
#                                   (each says what it skipped)
set -euo pipefail
cd "$(dirname "$0")/.."

skip=()
while [ $# -gt 0 ]; do
  case "$1" in
    --skip) skip+=("$2"); shift 2 ;;
    --skip=*) skip+=("${1#--skip=}"); shift ;;
    -h|--help) sed -n '2,11p' "$0"; exit 0 ;;
    *) echo "test.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
skipped() { local p; for p in "${skip[@]+"${skip[@]}"}"; do [ "$p" = "$1" ] && return 0; done; return 1; }

scripts/install-deps.sh

start=$(date +%s)
results=()
# A test run leaves the checkout as it found it.
tree_before=$(git status --porcelain 2>/dev/null || true)

# Style first, as it fails fastest: all C++ as .clang-format says, and no
# line of Python or JavaScript longer than its column limit.
echo "=== style: clang-format, line lengths"
clang-format-14 --dry-run -Werror $(git ls-files '*.cpp' '*.h')
limit=$(sed -n 's/^ColumnLimit: *//p' .clang-format)
long=$(git ls-files '*.py' '*.js' | xargs python3 -c '
import sys
n = int(sys.argv[1])
for name in sys.argv[2:]:
    for i, line in enumerate(open(name, encoding="utf-8"), 1):
        if len(line.rstrip("\n")) > n: print(f"{name}:{i}")' "$limit")
if [ -n "$long" ]; then
  echo "style: lines longer than $limit columns:" >&2
  echo "$long" >&2
  exit 1
fi
# The layers: a folder includes only itself and the folders below it, and
# no front end another.
declare -A below=([platform]="" [avi]="platform" [mkv]="platform avi" [core]="platform avi mkv"
                  [windows]="platform avi mkv core" [cli]="platform avi mkv core" [web]="platform avi mkv core")
for folder in "${!below[@]}"; do
  allowed="$folder ${below[$folder]}"
  bad=$(git ls-files "$folder" | grep -E '\.(cpp|h)$' | { xargs -r grep -HnE '#include "[a-z]+/' || true; } |
    awk -v ok=" $allowed " '{ match($0, /#include "[a-z]+\//); f = substr($0, RSTART + 10, RLENGTH - 11);
                               if (index(ok, " " f " ") == 0) print }')
  if [ -n "$bad" ]; then
    echo "style: $folder/ includes what lies beside or above it:" >&2
    echo "$bad" >&2
    exit 1
  fi
done
results+=("style: passed")
run_preset() {
  local preset=$1
  if skipped "$preset"; then
    results+=("$preset: SKIPPED (asked for with --skip $preset)")
    return
  fi
  echo "=== $preset: configure, build, test"
  cmake --preset "$preset" -DTOVACREX_TESTS=ON
  cmake --build --preset "$preset"
  ctest --preset "$preset"
  results+=("$preset: passed")
}

run_preset native
# Wine runs 32-bit programs only where the kernel runs 32-bit code, and some
# hosts run 64-bit code only. There the 32-bit build is still made, and the
# Windows tests run on the same sources built for 64-bit Windows.
runs_32bit=0
/usr/lib/wine/wine --version >/dev/null 2>&1 && runs_32bit=1
no_32bit="this machine cannot run 32-bit programs"
if skipped win32 || [ $runs_32bit -eq 1 ]; then
  run_preset win32
else
  echo "=== win32: configure, build; $no_32bit, so its tests run in the win64 build"
  cmake --preset win32 -DTOVACREX_TESTS=ON
  cmake --build --preset win32
  results+=("win32: built; tests NOT RUN here: $no_32bit")
  run_preset win64
fi
run_preset asan
# The web tests are ctest's (label web, tests/web/CMakeLists.txt): the native
# preset's run above made the page and ran them; here they run only when
# that preset was left out.
if skipped web; then
  results+=("web: SKIPPED (asked for with --skip web; the native preset's ctest runs its web label all the same)")
elif skipped native; then
  echo "=== web: the page made; its module against the command line under Node; the page in headless Chromium"
  cmake --preset native -DTOVACREX_TESTS=ON
  cmake --build --preset native --target tovacrex-cli
  ctest --preset native -L web
  results+=("web: passed")
else
  results+=("web: passed, in the native preset's ctest (label web)")
fi
if [ -x scripts/fuzz.sh ]; then
  if skipped fuzz; then
    results+=("fuzz: SKIPPED (asked for with --skip fuzz)")
  else
    echo "=== fuzz: short run of every fuzz target"
    scripts/fuzz.sh --short
    results+=("fuzz: passed")
  fi
fi

if skipped package; then
  results+=("package: SKIPPED (asked for with --skip package)")
else
  echo "=== package: the Debian package and the Windows zip, made and tried"
  scripts/package-check.sh
  if [ $runs_32bit -eq 1 ]; then
    results+=("package: passed")
  else
    results+=("package: passed; the zip's programs NOT RUN here: $no_32bit")
  fi
fi

if [ "${TOVACREX_SKIP_FFMPEG:-}" = 1 ]; then
  results+=("checks on ffmpeg-made files: SKIPPED (asked for with TOVACREX_SKIP_FFMPEG=1)")
fi

# Tests against code, in lines: tests/ (kept fuzz inputs are data) against
# the product's folders (C++, JavaScript, HTML and the page generator);
# benchmarks (bench/) and scripts count on neither side.
test_lines=$(git ls-files tests | grep -E '\.(cpp|h|cmake|sh|py|js)$' | xargs cat | wc -l)
code_lines=$(git ls-files platform avi mkv core windows cli web | grep -E '\.(cpp|h|js|html)$|^web/make_page\.py$' |
  xargs cat | wc -l)

echo
echo "=== summary ($(( $(date +%s) - start )) s)"
printf '  %s\n' "${results[@]}"
echo "  tests/code: $test_lines / $code_lines lines = $(( 100 * test_lines / code_lines ))%"
if [ "$(git status --porcelain 2>/dev/null || true)" != "$tree_before" ]; then
  echo "  the run changed the checkout (git status --porcelain):" >&2
  git status --porcelain >&2
  exit 1
fi

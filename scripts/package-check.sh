#!/usr/bin/env bash
# Builds both packages from scratch and tries them as a user gets them:
#  - the Debian package (build/package): its control fields, unpacked into a
#    scratch root, where the installed tovacrex-cli, man page and completion
#    are run; lintian may warn, but reports no error;
#  - the Windows zip (build/package-win32): exactly the two programs, the
#    page and their documents, both programs run under Wine (the dialog in
#    an Xvfb of its own);
#  - in both, the browser edition as the web build made it.
# Part of scripts/test.sh (--skip package leaves it out).
set -euo pipefail
cd "$(dirname "$0")/.."
version=$(sed -n 's/^project(Tovacrex VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
fail() { echo "package-check: $*" >&2; exit 1; }
same() { [ "$1" = "$2" ] || fail "$3: got '$1', expected '$2'"; }
# The options and the commands a --help lists.
options() { sed -n '/^Options:/,/^$/s/^  \(-[^ ]*\).*/\1/p' | tr , '\n'; }
commands() { sed -n '/^Subcommands:/,/^$/s/^  \([a-z]*\) .*/\1/p'; }

rm -rf build/package build/package-win32

echo "=== package: the Debian package"
cmake --workflow --preset package
deb=build/package/tovacrex-cli_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "$deb was not made"
for f in Package=tovacrex-cli Version="$version" Section=utils Depends=; do
  same "$(dpkg-deb -f "$deb" "${f%%=*}")" "${f#*=}" "the control field ${f%%=*}"
done
root=build/package/root
dpkg -x "$deb" "$root"
cli=$root/usr/bin/tovacrex-cli
# No Depends: the program needs no shared library, not even the C library.
file -L "$cli" | grep -q 'statically linked.*, stripped' || fail "not static and stripped: $(file -L "$cli")"
same "$("$cli" --version)" "tovacrex-cli $version" "the installed --version"
info=$("$cli" info samples/sample.avi) || fail "info on the sample failed: $info"
same "$info" 'samples/sample.avi: DivX V3 Low (handler "div3" at 0x70, compression "div3" at 0xbc)' "info on the sample"

page=$root/usr/share/man/man1/tovacrex-cli.1.gz
warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || fail "man cannot show $page"
[ -z "$warnings" ] || fail "the man page: $warnings"
source=$(zcat "$page")
rendered=$(MANWIDTH=200 man -l "$page")
# Lists read from the program's help: an empty one would check nothing.
listed() { [ -n "$1" ] || fail "no $2 read from the program's help"; printf '%s\n' "$1"; }
for command in $(listed "$("$cli" --help | commands)" commands); do
  grep -q "^       $command\b" <<<"$(sed -n '/^COMMANDS/,/^OPTIONS/p' <<<"$rendered")" || fail "the man page lacks the command $command"
  for option in $(listed "$("$cli" "$command" --help | options)" "$command options") $("$cli" --help | options); do
    grep -qF -- "${option//-/\\-}" <<<"$source" || fail "the man page lacks $command's option $option"
  done
done
names=$("$cli" codecs --json | python3 -c 'import json, sys; print("\n".join(c["name"] for c in json.load(sys.stdin)))')
[ "$(wc -l <<<"$names")" -eq 13 ] || fail "codecs --json did not list 13 codecs"
while read -r name; do
  grep -qF -- "$name" <<<"$source" || fail "the man page lacks the codec $name"
done <<<"$names"
grep -q '^EXIT STATUS' <<<"$rendered" || fail "the man page lacks the exit status"
bash tests/completion.sh "$root/usr/share/bash-completion/completions/tovacrex-cli" "$cli" || fail "the installed completion"
# The browser edition, as the web build made it, one file under 300 KB.
html=build/web/tovacrex.html
cmp -s "$root/usr/share/tovacrex-cli/tovacrex.html" "$html" || fail "the package's tovacrex.html is not $html"
[ "$(stat -c %s "$html")" -lt 300000 ] || fail "$html is $(stat -c %s "$html") bytes, not under 300 KB"

echo "--- lintian"
lintian --display-info --fail-on error "$deb" 2>&1 | { grep -v '^running with root privileges' || true; } | tee build/package/lintian.txt \
  || fail "lintian reports errors"

echo "=== package: the Windows zip"
cmake --workflow --preset package-win32
name=tovacrex-$version-win32
zip=build/package-win32/$name.zip
same "$(unzip -Z1 "$zip" | grep -v '/$' | sort | tr '\n' ' ')" \
     "$name/README.md $name/cli-json.schema.json $name/tovacrex-cli.exe $name/tovacrex.exe $name/tovacrex.html " "the zip's files"
unzip -q "$zip" -d build/package-win32/unpacked
dir=build/package-win32/unpacked/$name
cmp -s "$dir/tovacrex.html" "$html" || fail "the zip's tovacrex.html is not $html"
# A prefix of its own, kept between runs: making one takes a while.
prefix=$PWD/build/wineprefix-package
wine_run=cmake/wine-run.sh
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "package-check: the zip's programs NOT RUN: this machine cannot run 32-bit programs"
  echo "package-check: both packages made; the Debian package passed (tovacrex-cli $version)"
  exit 0
fi
same "$("$wine_run" "$prefix" "$dir/tovacrex-cli.exe" --version | tr -d '\r')" "tovacrex-cli $version" "the zip's --version"
same "$("$wine_run" "$prefix" "$dir/tovacrex-cli.exe" info samples/sample.avi | tr -d '\r')" "$info" "the zip's info on the sample"

# The Wine session of the runs above has no display: let it end first.
"$wine_run" "$prefix" wineserver -w
# The dialog: started, its window seen (caption "Tovacrex v..."), then closed
# as the close box closes it (WM_CLOSE, which taskkill sends); it must exit 0.
timeout 300 xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  "$1" "$2" "$3" & program=$!
  timeout 120 xdotool search --sync --name "^Tovacrex v" >/dev/null || { echo "no dialog window" >&2; kill $program; exit 1; }
  "$1" "$2" taskkill /im tovacrex.exe >/dev/null
  wait $program; status=$?
  "$1" "$2" wineserver -w
  exit $status' _ "$wine_run" "$prefix" "$dir/tovacrex.exe" || fail "the zip's dialog did not start and quit"

echo "package-check: both packages passed (tovacrex-cli $version)"

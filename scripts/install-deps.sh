#!/usr/bin/env bash
# Installs from apt what the builds and tests need, when it is missing.
# Without root it prints the exact command to run instead and fails.
#
#   scripts/install-deps.sh          everything the test suite needs
#   scripts/install-deps.sh --demo   only what building tovacrex-cli needs
set -euo pipefail

# package -> a file that proves it is installed
# The command line alone: compiler, build tool and its two header libraries.
declare -A probe=(
  [g++]=/usr/bin/g++
  [make]=/usr/bin/make
  [cmake]=/usr/bin/cmake
  [libcli11-dev]=/usr/include/CLI/CLI.hpp
  [nlohmann-json3-dev]=/usr/include/nlohmann/json.hpp
)
demo=0
[ "${1:-}" = --demo ] && demo=1

need_i386=0
if [ $demo -eq 0 ]; then
dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1
probe+=(
  [g++-mingw-w64-i686]=/usr/bin/i686-w64-mingw32-g++
  [wine]=/usr/bin/wine
  [wine32:i386]=/usr/lib/wine/wine
  # The Windows tests on a host that runs 64-bit code only (see test.sh).
  [wine64]=/usr/lib/wine/wine64
  [g++-mingw-w64-x86-64-posix]=/usr/bin/x86_64-w64-mingw32-g++-posix
  [xvfb]=/usr/bin/Xvfb
  [xauth]=/usr/bin/xauth  # xvfb-run's; only recommended by xvfb
  [xdotool]=/usr/bin/xdotool
  [ffmpeg]=/usr/bin/ffmpeg
  [mediainfo]=/usr/bin/mediainfo
  [imagemagick]=/usr/bin/convert-im6.q16
  [libgtest-dev]=/usr/src/googletest/CMakeLists.txt
  [libbenchmark-dev]=/usr/include/benchmark/benchmark.h
  [clang]=/usr/bin/clang++
  [libclang-rt-14-dev]=/usr/lib/llvm-14/lib/clang/14.0.6/lib/linux/libclang_rt.fuzzer-x86_64.a
  [valgrind]=/usr/bin/valgrind
  [mencoder]=/usr/bin/mencoder
  [gstreamer1.0-tools]=/usr/bin/gst-launch-1.0
  [gstreamer1.0-plugins-good]=/usr/lib/x86_64-linux-gnu/gstreamer-1.0/libgstavi.so
  [gstreamer1.0-libav]=/usr/lib/x86_64-linux-gnu/gstreamer-1.0/libgstlibav.so
  # The Windows tests: code pages from these locales, fonts as on Windows.
  [locales]=/usr/sbin/locale-gen
  [fonts-wine]=/usr/share/wine/fonts/marlett.ttf
  [fonts-crosextra-carlito]=/usr/share/fonts/truetype/crosextra/Carlito-Regular.ttf
  # The browser edition: the core compiled to WebAssembly, tried under Node.
  [emscripten]=/usr/bin/emcc
  [nodejs]=/usr/bin/node
  # ... and the page in headless Chromium, driven through its DevTools protocol.
  [chromium]=/usr/bin/chromium
  [python3-websocket]=/usr/lib/python3/dist-packages/websocket/__init__.py
  # The package check: the .deb unpacked and linted, its man page, the zip.
  [lintian]=/usr/bin/lintian
  [man-db]=/usr/bin/man
  [file]=/usr/bin/file
  [unzip]=/usr/bin/unzip
  # The C++ format check.
  [clang-format-14]=/usr/bin/clang-format-14
  # Matroska files made and read back by an independent tool.
  [mkvtoolnix]=/usr/bin/mkvmerge
)
# The Windows tests choose Wine's ANSI code page through these: 1252 and 1251.
locales=(en_US.UTF-8 ru_RU.UTF-8)
else
locales=()
fi
missing=()
for p in "${!probe[@]}"; do
  if [ ! -e "${probe[$p]}" ]; then
    missing+=("$p")
  fi
done

missing_locales=()
for l in "${locales[@]+"${locales[@]}"}"; do
  locale -a 2>/dev/null | grep -qx "${l%.UTF-8}.utf8" || missing_locales+=("$l")
done

if [ ${#missing[@]} -eq 0 ] && [ $need_i386 -eq 0 ] && [ ${#missing_locales[@]} -eq 0 ]; then
  echo "install-deps: everything needed is installed"
  exit 0
fi

cmd="true"
[ $need_i386 -eq 1 ] && cmd+=" && dpkg --add-architecture i386"
[ ${#missing[@]} -gt 0 ] &&
  cmd+=" && apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends ${missing[*]}"
for l in "${missing_locales[@]+"${missing_locales[@]}"}"; do cmd+=" && echo '$l UTF-8' >> /etc/locale.gen"; done
[ ${#missing_locales[@]} -gt 0 ] && cmd+=" && locale-gen"

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing: ${missing[*]} ${missing_locales[*]}" >&2
  echo "install-deps: run as root:  sudo sh -c '$cmd'" >&2
  exit 1
fi

echo "install-deps: installing: ${missing[*]} ${missing_locales[*]}"
[ $need_i386 -eq 1 ] && echo "install-deps: adding the i386 architecture (for wine32)"
sh -c "$cmd"
echo "install-deps: done"

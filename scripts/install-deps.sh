#!/bin/sh
# Installs the Debian packages the build needs, only when one is missing
# (with the argument "web": those of the playground; with "windows": also the
# MinGW-w64 cross compiler in its posix threads flavour, for std::thread,
# GoogleTest's sources to build for it, and Wine's launcher and 64-bit loader).
set -e
# libclang-rt-dev: the libFuzzer and sanitizer runtimes, only recommended by clang.
# scdoc builds the manual pages; groff-base formats them in their test.
# dpkg-dev (dpkg-shlibdeps, for the package's dependencies) and lintian make
# and check the Debian package. sdcc assembles the Game Boy driver; gbsplay
# and the gambatte libretro core check what it plays. qvblsp reads and writes
# its messages with nlohmann-json3-dev; its test runs neovim's own client.
# unzip opens the packed VS Code extension in its test.
pkgs="cmake make g++ clang libclang-rt-dev pkg-config libgtest-dev libgmock-dev libbenchmark-dev libasound2-dev libsndfile1-dev sdcc gbsplay libretro-gambatte tmux scdoc groff-base dpkg-dev lintian nlohmann-json3-dev neovim unzip"
# "web": what the playground and its browser test need instead (npm comes
# inside some builds of nodejs; Debian's own is a package of its own).
if [ "$1" = web ]; then
  pkgs="cmake make emscripten node-acorn nodejs chromium python3 sdcc"
  command -v npm >/dev/null || pkgs="$pkgs npm"
fi
if [ "${1:-}" = windows ]; then
  pkgs="$pkgs g++-mingw-w64-x86-64-posix googletest wine wine64"
fi
missing=""
for p in $pkgs; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "installing:$missing"
if [ "$(id -u)" = 0 ]; then sudo=""; elif command -v sudo >/dev/null; then sudo=sudo; else
  echo "missing packages:$missing (run as root or install sudo)" >&2; exit 1
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing

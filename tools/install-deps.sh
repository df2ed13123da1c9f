#!/usr/bin/env bash
# Installs what the build and the tests need on a fresh Debian 12 machine:
# compilers, test libraries, the mingw-w64 cross compiler, 32-bit Wine, the
# libraries zorv builds on, and the independent tools its tests compare with.
# Does nothing when everything is already there.
set -euo pipefail

packages=(cmake g++ clang libclang-rt-14-dev libgtest-dev libbenchmark-dev valgrind
          g++-mingw-w64-i686 wine wine32:i386
          # zorv: PNG, deflate (libdeflate, and zlib for literal-only streams), arguments, JSON,
          # and zlib for its Windows build
          libspng-dev libdeflate-dev zlib1g-dev libcli11-dev nlohmann-json3-dev libz-mingw-w64-dev pkg-config
          # independent readers and a classic encoder for tests and benchmarks
          python3 python3-pil imagemagick python3-lzss xxhash
          # photographs and drawn pictures for the PNG benchmarks (bench/png_corpus.py)
          lomiri-wallpapers-20.04 sway-backgrounds xfdesktop4-data
          # the plug-ins and the host as WebAssembly for the browser viewer
          emscripten
          # the browser viewer: its bundler and tests run on node; Chromium drives the page headless
          nodejs chromium)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' \
    || missing+=("$package")
done
# Node from elsewhere may carry its own npm; Debian's node needs Debian's.
command -v npm >/dev/null || missing+=(npm)
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
echo "Installing: ${missing[*]}"
# A mirror caught in the middle of a sync fails one list while the others
# arrive: try again, then go on with the lists there are.
for attempt in 1 2 3; do
  $sudo apt-get update -q && break
  [ "$attempt" -eq 3 ] && echo "warning: apt-get update failed; installing from the lists there are" >&2
  sleep 10
done
install() { DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "$@"; }
# The i386 and amd64 copies of a library must be of one version. When the
# security suite's i386 list is missing, the release's own versions still
# match each other.
release=$(. /etc/os-release && echo "$VERSION_CODENAME")
install "${missing[@]}" || install -t "$release" "${missing[@]}"

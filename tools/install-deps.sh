#!/usr/bin/env bash
# Installs what the build and the tests need on a fresh Debian 12 machine:
# compilers, test libraries, the mingw-w64 cross compiler, 32-bit Wine, the
# libraries zorv builds on, and the independent tools its tests compare with.
# Does nothing when everything is already there.
set -euo pipefail

packages=(cmake g++ clang libclang-rt-14-dev libgtest-dev libbenchmark-dev valgrind
          g++-mingw-w64-i686 wine wine32:i386
          # zorv: PNG, arguments, JSON, and zlib for its Windows build
          libspng-dev libcli11-dev nlohmann-json3-dev libz-mingw-w64-dev pkg-config
          # independent readers and a classic encoder for tests and benchmarks
          python3 python3-pil imagemagick python3-lzss xxhash)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' \
    || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"

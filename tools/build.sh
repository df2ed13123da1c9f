#!/usr/bin/env bash
# Builds the deliverables: dist/ZORVPICT.SPI and dist/ZORVPACK.SPI (32-bit
# Windows, stripped; the copies with debug information stay in
# build/mingw/{picture,archive}/unstripped/) with dist/zorv.exe beside them,
# and the native Linux libraries in dist/native/ with dist/zorv, which finds
# them there; and dist/zorv-viewer.html, the plug-ins as WebAssembly in one
# page that needs nothing else.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
jobs=$(nproc)

cmake -S . -B build/mingw -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release
cmake --build build/mingw -j"$jobs"
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Release
cmake --build build/native -j"$jobs"

mkdir -p dist/native
cp build/mingw/picture/ZORVPICT.SPI build/mingw/archive/ZORVPACK.SPI dist/
cp build/native/platform/libzorvplatform.so build/native/picture/libzorvpict.so \
   build/native/archive/libzorvpack.so dist/native/
cp build/mingw/cli/zorv.exe build/native/cli/zorv dist/
web/build.sh
ls -l dist dist/native

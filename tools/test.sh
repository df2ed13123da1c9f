#!/usr/bin/env bash
# Runs every test: natively, natively under ASan+UBSan (with the fuzz
# regression inputs and a short run of each fuzz target), the thread tests
# under ThreadSanitizer, and the real 32-bit DLLs under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/build.sh
jobs=$(nproc)
fuzz_seconds=${FUZZ_SECONDS:-40}

echo "== native tests"
ctest --test-dir build/native --output-on-failure -j"$jobs"

echo "== ASan+UBSan tests"
cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DZORV_SANITIZE=address,undefined -DZORV_FUZZ=ON
cmake --build build/asan -j"$jobs"
ctest --test-dir build/asan --output-on-failure -j"$jobs"

echo "== ThreadSanitizer: thread tests"
cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DZORV_SANITIZE=thread
cmake --build build/tsan -j"$jobs" --target archive_tests
ctest --test-dir build/tsan --output-on-failure -L archive -R 'Thread|Stress'

echo "== Wine: the real DLLs"
ctest --test-dir build/mingw --output-on-failure

if [ -x tools/fuzz.sh ]; then
  echo "== fuzzing, ${fuzz_seconds}s per target"
  tools/fuzz.sh "$fuzz_seconds"
fi

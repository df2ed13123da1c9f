#!/usr/bin/env bash
# Runs every test: natively, natively under ASan+UBSan (with the fuzz
# regression inputs and a short run of each fuzz target), the thread tests
# under ThreadSanitizer, and the real 32-bit DLLs under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/build.sh
jobs=$(nproc)
fuzz_seconds=${FUZZ_SECONDS:-45}
passed=0
skipped=0

# Runs ctest and adds its count to the total; any failure ends the run.
run_ctest() {
  local log
  log=$(mktemp)
  ctest "$@" 2>&1 | tee "$log"
  local status=${PIPESTATUS[0]}
  local count
  count=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1)
  rm -f "$log"
  [ "$status" -eq 0 ] || exit "$status"
  passed=$((passed + ${count:-0}))
}

echo "== native tests"
run_ctest --test-dir build/native --output-on-failure -j"$jobs"

echo "== ASan+UBSan tests"
cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DZORV_SANITIZE=address,undefined -DZORV_FUZZ=ON
cmake --build build/asan -j"$jobs"
run_ctest --test-dir build/asan --output-on-failure -j"$jobs"

echo "== ThreadSanitizer: thread tests"
cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DZORV_SANITIZE=thread
cmake --build build/tsan -j"$jobs" --target archive_tests
run_ctest --test-dir build/tsan --output-on-failure -L archive -R 'Thread|Stress'

echo "== Wine: the real DLLs"
# Some virtual machines boot with the kernel's 32-bit emulation turned off;
# there no 32-bit program runs, Wine's included. Said loudly, not hidden.
if wine --version >/dev/null 2>&1; then
  run_ctest --test-dir build/mingw --output-on-failure
else
  wine_tests=$(ctest --test-dir build/mingw -N | sed -n 's/^Total Tests: //p')
  skipped=$((skipped + ${wine_tests:-0}))
  echo "SKIPPED: this machine cannot run 32-bit programs ('wine --version' fails), so the $wine_tests Wine tests did not run"
fi

echo "== browser: the viewer page in headless Chromium"
# node's test runner: the worker's engine under node, then the page in dist/ against zorv in
# build/native, on files the fixture builders make.
browser_log=$(mktemp)
(cd web && node --test --test-concurrency=1 test/engine.test.mjs test/viewer.test.mjs) 2>&1 | tee "$browser_log"
browser_status=${PIPESTATUS[0]}
browser_passed=$(sed -n 's/^# pass \([0-9]*\)$/\1/p' "$browser_log" | tail -n 1)
rm -f "$browser_log"
[ "$browser_status" -eq 0 ] || exit "$browser_status"
passed=$((passed + ${browser_passed:-0}))

echo "== fuzzing, ${fuzz_seconds}s per target"
tools/fuzz.sh "$fuzz_seconds"

if [ "$skipped" -gt 0 ]; then
  echo "All stages green: $passed passed, 0 failed, $skipped skipped"
else
  echo "All stages green: $passed passed, 0 failed"
fi

#!/usr/bin/env bash
# Runs each libFuzzer target for a bounded time from seeds made by the
# fixture builders, as many at once as there are cores; fails on any
# finding. Usage: tools/fuzz.sh [seconds] [target...]
# Needs the build/asan tree configured with -DZORV_FUZZ=ON (tools/test.sh does).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
build=${FUZZ_BUILD:-build/asan}
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_lzss fuzz_picture fuzz_archive fuzz_pwaudio fuzz_dib fuzz_manifest fuzz_lzss_encoder fuzz_wave)

cmake --build "$build" -j"$(nproc)" --target make_fuzz_seeds "${targets[@]}"
work="$build/fuzz-work"
rm -rf "$work/seeds" "$work"/*.status
mkdir -p "$work/corpus" "$work/artifacts"
"$build/fuzz/make_fuzz_seeds" "$work/seeds"

# One target on each core, each for its full time; their reports are
# printed in order once all have ended.
run_target() {
  local target=$1 corpus="$work/corpus/$1"
  mkdir -p "$corpus" "$work/seeds/$target"
  local regressions=()
  [ -d "fuzz/regressions/$target" ] && regressions=("fuzz/regressions/$target")
  local status=0
  "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2560 \
      -malloc_limit_mb=2560 -print_final_stats=1 -artifact_prefix="$work/artifacts/$target-" \
      "$corpus" "$work/seeds/$target" "${regressions[@]}" 2>"$work/$target.log" || status=$?
  echo "$status" >"$work/$target.status"
}

parallel=${FUZZ_JOBS:-$(nproc)}
echo "-- ${#targets[@]} targets, ${seconds}s each, $parallel at a time"
for target in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do wait -n || true; done
  run_target "$target" &
done
wait

status=0
for target in "${targets[@]}"; do
  echo "-- $target"
  if [ "$(cat "$work/$target.status")" != 0 ]; then
    tail -n 60 "$work/$target.log"
    echo "FINDING in $target: inputs in $work/artifacts (keep them under fuzz/regressions/$target)"
    status=1
  else
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)|cov:' "$work/$target.log" | tail -n 3
  fi
done
exit $status

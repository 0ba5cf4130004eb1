#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs each for a
# bounded time, starting from the committed seeds in fuzz/corpus/<target>.
# New inputs found go to build-fuzz/corpus/<target>, never into the seeds.
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 25; CI runs 25)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-25}
bash scripts/deps-fuzz.sh

cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DDALVORA_SANITIZE=fuzzer \
  -DDALVORA_BUILD_APP=OFF -DDALVORA_BUILD_TESTS=OFF -DDALVORA_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target fuzz_protocol fuzz_profile

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
failed=()
for target in fuzz_protocol fuzz_profile; do
  found=build-fuzz/corpus/$target
  mkdir -p "$found" build-fuzz/crashes
  echo "fuzz: $target for ${seconds}s"
  build-fuzz/fuzz/$target -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 \
    -print_final_stats=1 -artifact_prefix=build-fuzz/crashes/$target- \
    "$found" "fuzz/corpus/$target" || failed+=("$target")
done
if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: properties broken in ${failed[*]}; the inputs are in build-fuzz/crashes" >&2
  exit 1
fi

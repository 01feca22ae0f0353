#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each on its committed seed corpus for a short budget.
# Usage: scripts/fuzz.sh [total seconds, default 60]. New inputs go to a temporary folder, not the corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

total="${1:-60}"
targets=(framer parser scriva journal)
per_target=$(( total / ${#targets[@]} ))
[ "$per_target" -ge 1 ] || per_target=1

CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DZEL_BUILD_FUZZERS=ON -DZEL_BUILD_GUI=OFF \
  -DZEL_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-fuzz --target $(printf 'zel_%s_fuzzer ' "${targets[@]}")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for target in "${targets[@]}"; do
  mkdir -p "$work/$target"
  echo "fuzz: zel_${target}_fuzzer for ${per_target} s"
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "build-fuzz/bin/zel_${target}_fuzzer" -max_total_time="$per_target" -print_final_stats=1 \
    -artifact_prefix="$work/" "$work/$target" "tests/fuzz/corpus/$target"
done

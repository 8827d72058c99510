#!/usr/bin/env bash
# Measures the CSV export: the in-process benchmark (entries per second to
# memory and to a file), then the sq71 binary end to end on the sample log,
# process start included. Builds the native tree first.
#   tools/bench_export.sh [RUNS]     (default 200 runs of the binary)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
runs="${1:-200}"
build="${SQ71_BENCH_BUILD:-build/native}"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target sq71 bench_export >/dev/null

"$build/tools/bench_export" --benchmark_min_time=0.5

sample=data/sample.ulg
entries=$("$build/cli/sq71" view "$sample" | wc -l)
start=$(date +%s%N)
for ((i = 0; i < runs; i++)); do
  "$build/cli/sq71" export "$sample" - >/dev/null
done
elapsed_ns=$(($(date +%s%N) - start))
awk -v n="$runs" -v e="$entries" -v ns="$elapsed_ns" 'BEGIN {
  printf "sq71 export %s (%d entries), %d runs: %.2f ms a run, %.0f entries/s with process start\n",
         "data/sample.ulg", e, n, ns / n / 1e6, e * n / (ns / 1e9)
}'

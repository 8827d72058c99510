#!/usr/bin/env bash
# Times a full Read end to end: sq71log.exe under Wine downloading 1024
# records from the simulated meter in wire-accurate mode (latency timer
# 16 ms), from the Read command to "Transfer Complete!". Reports it against
# the simulator's own exchange time, measured twice (natively by bench_wire,
# and through the stand-in library under Wine), and against the 7.11 s the
# wire alone takes. A benchmark: nothing is asserted. About two minutes.
#   tools/bench_read.sh [RUNS]     (default 3 runs of the program)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
runs="${1:-3}"
native="${SQ71_BENCH_NATIVE:-build/native}"
win="${SQ71_BENCH_WIN:-build/win}"
tools/setup.sh

cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$native" -j"$(nproc)" --target bench_wire >/dev/null
cmake -S . -B "$win" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$win" -j"$(nproc)" --target bench_read sq71log ftd2xx_standin >/dev/null

echo "== simulator alone, native (bench_wire)"
wire_out=$("$native/sim/bench_wire" 1024 16)
echo "$wire_out"
wire_s=$(awk '$1 == "16" { print $2 }' <<<"$wire_out")

echo
echo "== Read end to end under Wine (bench_read)"
win="$(cd "$win" && pwd)"
export WINEPREFIX="$win/wineprefix" WINEDEBUG=-all
tools/wine-prefix.sh "$WINEPREFIX"
out_file=$(mktemp)
trap 'rm -f "$out_file"' EXIT
export bench="$win/e2e/bench_read.exe" runs out_file
# shellcheck disable=SC2016
xvfb-run -a -s "-screen 0 1024x768x24" bash -c 'wine "$bench" "$runs" | tee "$out_file"'
read_s=$(awk '$1 == "bench_read_s" { print $2 }' "$out_file" | tr -d '\r')

echo
awk -v r="$read_s" -v w="$wire_s" 'BEGIN {
  printf "Read end to end %.2f s = %.2f x 1024 native simulator exchanges (%.2f s) = %.2f x the wire floor (7.11 s)\n",
         r, r / w, w, r / 7.111
}'

#!/usr/bin/env bash
# The web page's figures (web/bench.mjs): first-visit size, time to a working
# page, a 1,024-entry log opened and reported, a demo read beside sq71's.
# With "meters": a full read through the tests' fake WebUSB FT232R and fake
# serial port beside sq71's (web/bench_meters.mjs).
#   tools/bench_web.sh [RUNS]
#   tools/bench_web.sh meters [RUNS]
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
tools/web.sh >/dev/null
cmake --preset native >/dev/null
cmake --build build/native -j"$(nproc)" --target sq71 >/dev/null
if [ "${1:-}" = meters ]; then
  export NODE_PATH=/usr/share/nodejs
  cmake --build build/web-module -j"$(nproc)" --target sq71fake >/dev/null
  exec node web/bench_meters.mjs "${2:-3}"
fi
node web/bench.mjs "${1:-5}"

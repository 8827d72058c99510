#!/usr/bin/env bash
# The web page's figures (web/bench.mjs): first-visit size, time to a working
# page, a 1,024-entry log opened and reported, a demo read beside sq71's.
#   tools/bench_web.sh [RUNS]
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
tools/web.sh >/dev/null
cmake --preset native >/dev/null
cmake --build build/native -j"$(nproc)" --target sq71 >/dev/null
node web/bench.mjs "${1:-5}"

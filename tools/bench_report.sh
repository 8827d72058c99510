#!/usr/bin/env bash
# The installation report of a full log: builds a 1024-entry log from the
# sample's records (each with an ID of its own), times `sq71 report` on it
# (process start included), and prints the report's size and the page count
# of its PDF from headless Chromium on Letter and on A4. Figures only.
#   tools/bench_report.sh [RUNS]     (default 20 runs)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
runs="${1:-20}"
build="${SQ71_BENCH_BUILD:-build/native}"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target sq71 >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - data/sample.ulg "$work/full.ulg" <<'PY'
import struct, sys
sample = open(sys.argv[1], "rb").read()
records = [sample[i * 64:(i + 1) * 64] for i in range(36)]
out = bytearray()
for n in range(1024):
    r = bytearray(records[n % len(records)])
    r[1:5] = struct.pack("<HH", n % 1000 + 1, 3000 + n // 1000)
    out += r
open(sys.argv[2], "wb").write(out)
PY
entries=$("$build/cli/sq71" view "$work/full.ulg" | wc -l)

# Wall and CPU (user + system) seconds of each run; a busy machine stretches
# the first, the second is what the making itself costs.
TIMEFORMAT='%R %U %S'
for ((i = 0; i < runs; i++)); do
  { time "$build/cli/sq71" report "$work/full.ulg" -o "$work/full.html"; } 2>>"$work/times"
done
median_of() { sort -g | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)] * 1e9}'; }
median=$(awk '{print $1}' "$work/times" | median_of)
cpu=$(awk '{print $2 + $3}' "$work/times" | median_of)
size=$(stat -c %s "$work/full.html")

sed 's/<style>/<style>@page{size:A4}/' "$work/full.html" >"$work/a4.html"
pages() {
  chromium --headless --no-sandbox --disable-gpu --no-pdf-header-footer \
    --print-to-pdf="$work/$1.pdf" "file://$work/$1.html" >/dev/null 2>&1
  pdfinfo "$work/$1.pdf" | awk '/^Pages:/ {print $2}'
}
letter=$(pages full)
a4=$(pages a4)
awk -v e="$entries" -v ns="$median" -v cpu="$cpu" -v n="$runs" -v s="$size" -v l="$letter" -v a="$a4" 'BEGIN {
  printf "sq71 report, %d entries: %.1f ms wall, %.1f ms CPU (medians of %d runs, process start included)\n",
         e, ns / 1e6, cpu / 1e6, n
  printf "report: %d bytes (%.0f KiB); PDF: %d pages on Letter, %d on A4\n", s, s / 1024, l, a
}'

#!/usr/bin/env bash
# Times a full Read of 1024 records from the wire-accurate simulated meter,
# in one run:
#  - the simulator alone (1024 exchanges back to back with the program's own
#    calls), natively (bench_wire) and through the stand-in library under
#    Wine, at 2 ms and 16 ms latency;
#  - the transfer engine under a Win32 timer: exchanges per tick, and the
#    worst wait of a posted command during the download;
#  - sq71log.exe under Wine from the Read command to "Transfer Complete!",
#    with the program setting the latency timer (2 ms) and with a driver that
#    refuses (16 ms), and the worst wait for About during a download;
#  - `sq71 read` on the simulator, when the command-line tool has it, and the
#    purges in its trace;
#  - the ratios. A benchmark: nothing is asserted. A few minutes.
#   tools/bench_read.sh [RUNS]     (default 3 runs of the program per setting)
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
cmake --build "$win" -j"$(nproc)" --target bench_read sq71log ftd2xx_standin standin_programs >/dev/null

echo "== simulator alone, native (bench_wire)"
wire_out=$("$native/sim/bench_wire" 1024 2 16)
echo "$wire_out"
wire2=$(awk '$1 == "sim" && $2 == "2" { print $3 }' <<<"$wire_out")
wire16=$(awk '$1 == "sim" && $2 == "16" { print $3 }' <<<"$wire_out")

# --- sq71 read on the simulator (hook) ---------------------------------------
# Timed when the command-line tool in this tree has `read --sim SCENARIO`.
cli_s=""
if cmake --build "$native" -j"$(nproc)" --target sq71 >/dev/null 2>&1 &&
  "$native/cli/sq71" help read 2>&1 | grep -q -- "--sim"; then
  echo
  echo "== sq71 read --sim (native)"
  scratch=$(mktemp -d)
  python3 - "$scratch/full.ulg" <<'EOF'
import sys
log = bytearray(65536)
for n in range(1024):
    for i in range(64):
        log[n * 64 + i] = (n + i) & 0xFF
    log[n * 64] = n % 4
open(sys.argv[1], "wb").write(log)
EOF
  printf 'timing = wire\n\n[device]\nlog = full.ulg\n' >"$scratch/scenario.txt"
  start=$(date +%s.%N)
  "$native/cli/sq71" read --sim "$scratch/scenario.txt" -q -o "$scratch/out.ulg" >/dev/null
  end=$(date +%s.%N)
  cli_s=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
  cmp -s "$scratch/out.ulg" "$scratch/full.ulg" || echo "sq71 read --sim: the log differs!"
  echo "sq71 read --sim: $cli_s s"
  # The same calls without the wire's waits, traced: which purges a whole
  # download makes.
  printf 'timing = instant\ntrace = trace.txt\n\n[device]\nlog = full.ulg\n' \
    >"$scratch/traced.txt"
  "$native/cli/sq71" read --sim "$scratch/traced.txt" -q -o "$scratch/traced.ulg" >/dev/null
  cli_purges=$(grep -c '^FT_Purge ' "$scratch/trace.txt" || true)
  cli_queries=$(grep -c '^FT_GetQueueStatus ' "$scratch/trace.txt" || true)
  cli_writes=$(grep -c '^FT_Write ' "$scratch/trace.txt" || true)
  echo "sq71 read trace: $cli_purges purges, $cli_queries queue queries, $cli_writes requests"
  rm -rf "$scratch"
fi

echo
echo "== under Wine (bench_read)"
win="$(cd "$win" && pwd)"
export WINEPREFIX="$win/wineprefix" WINEDEBUG=-all
tools/wine-prefix.sh "$WINEPREFIX"
out_file=$(mktemp)
trap 'rm -f "$out_file"' EXIT
export bench="$win/e2e/bench_read.exe" runs out_file
# shellcheck disable=SC2016
xvfb-run -a -s "-screen 0 1024x768x24" bash -c 'wine "$bench" "$runs" | tee "$out_file"'
value() { awk -v k="$1" '$1 == k { print $2 }' "$out_file" | tr -d '\r'; }

echo
echo "== summary"
awk -v s2="$(value bench_sim2_s)" -v s16="$(value bench_sim16_s)" \
  -v r2="$(value bench_read2_s)" -v r16="$(value bench_read16_s)" \
  -v w2="$wire2" -v w16="$wire16" -v cli="$cli_s" -v purges="${cli_purges:-}" \
  -v ticks="$(value bench_ticks_median)" -v cmd="$(value bench_command_worst_ms)" \
  -v about="$(value bench_about_worst_ms)" 'BEGIN {
  printf "simulator alone (native):      2 ms %6.2f s   16 ms %6.2f s\n", w2, w16
  printf "simulator alone (Wine):        2 ms %6.2f s   16 ms %6.2f s\n", s2, s16
  printf "program Read (Wine):           2 ms %6.2f s   16 ms %6.2f s\n", r2, r16
  floor = 1024 * 80 * 10 / 115200
  if (cli != "") {
    printf "sq71 read --sim (native):      %6.2f s  = %.2f x the native simulator at 2 ms\n", cli, cli / w2
    printf "sq71 read / wire floor:        %6.2f   (target: <= 1.45); %s purges in its trace\n", cli / floor, purges
  } else printf "sq71 read --sim:               not available in this tree\n"
  printf "program / simulator alone:     2 ms %6.2f     16 ms %6.2f   (target at 2 ms: <= 1.10)\n", r2 / s2, r16 / s16
  printf "program 16 ms / program 2 ms:  %6.2f   (target: >= 2)\n", r16 / r2
  printf "exchanges per timer tick:      %s (median)\n", ticks
  printf "posted command, worst wait:    %s ms (engine under a Win32 timer; target: <= 50)\n", cmd
  printf "About during a Read, worst:    %s ms from command to box (the program)\n", about
  printf "wire floor:                    %6.2f s\n", 1024 * 80 * 10 / 115200
}'

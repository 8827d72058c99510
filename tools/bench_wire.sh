#!/usr/bin/env bash
# Times a full 1024-record log download from the simulated meter in
# wire-accurate mode, with the chip's latency timer at 16 ms (its default)
# and at 2 ms, next to the floor the wire alone sets (7.11 s). Takes about
# half a minute (a minute with --webusb, which adds the WebUSB driver on the
# simulated chip's USB interface). Arguments go to the program:
# [--webusb] [EXCHANGES [LATENCY_MS...]].
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
tools/setup.sh
cmake --preset native >/dev/null
cmake --build --preset native --target bench_wire -j"$(nproc)"
exec build/native/sim/bench_wire "$@"

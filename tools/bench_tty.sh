#!/usr/bin/env bash
# Times a full 1024-record Read through the tty backend, against the
# simulated meter on a pseudo-terminal, next to the floor the wire alone sets
# (7.11 s). Arguments go to the program: [wire|instant [RUNS]], default one
# run at wire pace (115200-baud byte timing; about 8 s).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
tools/setup.sh
cmake --preset native >/dev/null
cmake --build --preset native --target bench_tty -j2
exec build/native/tools/bench_tty "$@"

#!/usr/bin/env bash
# Runs the Windows build's tests under Wine (called by tools/test.sh, inside
# xvfb-run when there is no display).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
export WINEPREFIX="${WINEPREFIX:-$PWD/build/win/wineprefix}" WINEDEBUG=-all
tools/wine-prefix.sh "$WINEPREFIX"
# Start one wineserver and Wine's background services for the whole run, with
# their output detached: services started by the first test program would
# otherwise hold ctest's output pipe open and ctest would wait for ever.
wineserver -p </dev/null >/dev/null 2>&1
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
ctest --preset win -j"$(nproc)"

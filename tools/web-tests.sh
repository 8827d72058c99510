#!/usr/bin/env bash
# The web page's tests: builds the page (tools/web.sh) and runs its browser
# tests in Debian's Chromium against the native sq71 (build/native, which
# tools/test.sh builds first).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
tools/web.sh
# The tests' simulated FT232R behind their fake USB device and serial port
# (emscripten's tools find Debian's acorn through NODE_PATH).
export NODE_PATH=/usr/share/nodejs
cmake --build build/web-module -j"$(nproc)" --target sq71fake
if [ ! -x build/native/cli/sq71 ]; then
  cmake --preset native >/dev/null
  cmake --build build/native -j"$(nproc)" --target sq71
fi
node --test web/tests/page.test.mjs

#!/usr/bin/env bash
# Builds the trees and runs every test: the native unit tests (also under
# AddressSanitizer and UndefinedBehaviorSanitizer, and built with clang), a
# short run of each fuzz target, then the Windows build's unit and end-to-end
# tests under Wine, headless under Xvfb when there is no display, the web
# page's WebAssembly build and its tests in Chromium, and last the packages:
# built, installed, run and removed again (tools/package.sh --check).
# Warnings are errors in every tree. Exits non-zero on the first failure.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
tools/setup.sh
jobs=$(nproc)

step() { printf '\n== %s\n' "$*"; }

for preset in native asan clang; do
  step "configure and build: $preset"
  start=$SECONDS
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  echo "build $preset: $((SECONDS - start)) s"
  step "tests: $preset"
  start=$SECONDS
  ctest --preset "$preset" -j"$jobs"
  echo "tests $preset: $((SECONDS - start)) s"
done

step "fuzz targets: build and a short run of each"
start=$SECONDS
tools/fuzz.sh "${SQ71_FUZZ_SECONDS:-5}"
echo "fuzz: $((SECONDS - start)) s"

step "configure and build: win"
start=$SECONDS
cmake --preset win >/dev/null
cmake --build --preset win -j"$jobs"
echo "build win: $((SECONDS - start)) s"

step "tests: win (under Wine)"
if [ -n "${DISPLAY:-}" ]; then
  tools/win-tests.sh
else
  xvfb-run -a -s "-screen 0 1024x768x24" tools/win-tests.sh
fi

step "web page: module, page and its tests in Chromium"
start=$SECONDS
tools/web-tests.sh
echo "web: $((SECONDS - start)) s"

step "packages: build, install, run, remove"
tools/package.sh --check

#!/usr/bin/env bash
# Builds the Windows program and starts it under Wine with the stand-in driver
# library (the simulated meter) beside it. With a display the program opens
# there and this waits until it is closed. With none it runs under Xvfb,
# driven by sq71demo through the steps below, saves a screenshot and says
# where.
#
#   tools/run.sh [ARGS...]       ARGS go to the program (display) or, as
#                                steps, to sq71demo (no display)
#   SQ71_BUILD=DIR tools/run.sh  use another build folder than build/win
#   SQ71_DPI=N tools/run.sh      the display scale of the screenshot (Wine's
#                                LogPixels; default 144, that is 150 %)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
tools/setup.sh

build="${SQ71_BUILD:-build/win}"
if [ "$build" = build/win ]; then
  cmake --preset win >/dev/null
else
  cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target sq71log ftd2xx_standin standin_programs sq71demo
build="$(cd "$build" && pwd)"

export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all
tools/wine-prefix.sh "$WINEPREFIX"

if [ -n "${DISPLAY:-}" ]; then
  # The program loads its driver library only from its own folder or
  # System32: the copy in the stand-in's folder runs.
  exec wine "$build/standin/sq71log.exe" "$@"
fi

# What the demo does before the screenshot (see tests/e2e/demo_win32.cpp):
# command=ID posts a menu command, box=TEXT waits for a box, press=ID
# presses one of its buttons. By default: Read (32779), and wait for the
# download to end, so the screenshot shows the full bar under the box; the
# demo then dismisses the box and exits the program.
steps=("$@")
if [ ${#steps[@]} -eq 0 ]; then
  steps=(command=32779 "box=Transfer Complete!")
fi

# The screenshot is taken at a display scale of its own, in a prefix of its
# own (a copy of the one above), so the tests' prefix stays at 96 DPI.
dpi="${SQ71_DPI:-144}"
base_prefix="$WINEPREFIX"
export WINEPREFIX="$build/wineprefix-$dpi"
if [ ! -f "$WINEPREFIX/.sq71-ready" ]; then
  rm -rf "$WINEPREFIX"
  cp -a "$base_prefix" "$WINEPREFIX"
fi

shot="$build/sq71log-screenshot.png"
ready="$build/sq71demo.ready"
log="$build/sq71demo.log"
rm -f "$ready" "$shot"
# No Wine tool may run outside the Xvfb session here: the Wine server it
# starts would have no display for the program's windows. Wine maps / to Z:.
export demo="$build/e2e/sq71demo.exe" ready ready_win="Z:$ready" shot log
# shellcheck disable=SC2016
export dpi
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  wine reg add "HKCU\\Control Panel\\Desktop" /v LogPixels /t REG_DWORD /d "$dpi" /f \
    >/dev/null 2>&1
  wineserver -w
  wine "$demo" --hold "$ready_win" "$@" >"$log" 2>&1 &
  pid=$!
  # The demo creates the ready file once the program is on screen and every
  # step is done; it then waits for the file to go before closing it.
  for _ in $(seq 1200); do
    [ -e "$ready" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ ! -e "$ready" ]; then
    cat "$log" >&2
    kill "$pid" 2>/dev/null || true
    wineserver -k >/dev/null 2>&1 || true
    exit 1
  fi
  import -window root "$shot"
  rm -f "$ready"
  wait "$pid"
' bash "${steps[@]}" || { echo "run: the demo failed (log: $log)" >&2; exit 1; }
echo "run: screenshot at $dpi DPI saved to $shot"

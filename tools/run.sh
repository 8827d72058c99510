#!/usr/bin/env bash
# Builds the Windows program and starts it under Wine with the stand-in driver
# library (the simulated meter) beside it. With a display the program opens
# there and this waits until it is closed. With none it runs under Xvfb,
# downloads the meter's log, saves a screenshot and says where.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
tools/setup.sh
cmake --preset win >/dev/null
cmake --build --preset win -j"$(nproc)" --target sq71log ftd2xx_standin
export WINEPREFIX="$PWD/build/win/wineprefix" WINEDEBUG=-all
tools/wine-prefix.sh "$WINEPREFIX"

# The program finds the stand-in Ftd2xx.dll through PATH; it is never copied
# next to the program.
standin_dir="$(winepath -w "$PWD/build/win/standin" 2>/dev/null)"
export WINEPATH="$standin_dir"
exe="$PWD/build/win/bin/sq71log.exe"

if [ -n "${DISPLAY:-}" ]; then
  exec wine "$exe" "$@"
fi

shot="$PWD/build/sq71log-screenshot.png"
export exe shot
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  wine "$exe" &
  pid=$!
  for _ in $(seq 100); do
    win=$(xdotool search --name "^SQ-71 Meter - Log$" 2>/dev/null | head -n1) && [ -n "$win" ] && break
    sleep 0.1
  done
  sleep 1
  import -window root "$shot"
  wineserver -k >/dev/null 2>&1 || true
  wait $pid 2>/dev/null || true
'
echo "run: screenshot saved to $shot"

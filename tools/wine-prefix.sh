#!/usr/bin/env bash
# Makes a Wine prefix for running and testing the Windows build, once:
# 64-bit, no Mono or Gecko, and the X11 driver told there is no window manager
# (otherwise every hidden top-level window costs a 2 s wait under bare Xvfb).
set -e
prefix="${1:?usage: wine-prefix.sh PREFIX}"
[ -f "$prefix/.sq71-ready" ] && exit 0
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
[ -f "$prefix/.sq71-ready" ] && exit 0
export WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineboot -i >/dev/null 2>&1 || true
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
wineserver -w
touch "$prefix/.sq71-ready"

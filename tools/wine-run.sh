#!/usr/bin/env bash
# Runs a Windows program of the cross build under Wine, in the build tree's own
# prefix (made on first use). ctest uses this as the cross-compiling emulator.
set -e
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export WINEPREFIX="${WINEPREFIX:-$here/../build/win/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
"$here/wine-prefix.sh" "$WINEPREFIX"
exec wine "$@"

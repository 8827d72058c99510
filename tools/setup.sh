#!/usr/bin/env bash
# Installs what building and testing need, on Debian 12, when it is missing.
# Runs as root (or through sudo when there is one); no input is asked for.
set -euo pipefail
pkgs=(cmake make g++ clang libfuzzer-14-dev libgtest-dev googletest libbenchmark-dev libcli11-dev
      g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
      wine wine64 xvfb xauth xdotool imagemagick
      pkg-config libftdi1-dev libusb-1.0-0-dev umockdev libumockdev-dev
      nsis lintian help2man dpkg-dev file fakeroot unzip
      nlohmann-json3-dev chromium poppler-utils tidy)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
# Node.js and npm run the browser tests (tools/browser-tests.sh); a Node.js
# that came with its own npm is used as it is.
command -v npm >/dev/null || missing+=(nodejs npm)
[ ${#missing[@]} -eq 0 ] && exit 0
echo "setup: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

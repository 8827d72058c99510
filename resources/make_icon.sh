#!/usr/bin/env bash
# Draws the program icon (a satellite dish) with ImageMagick and writes
# sq71.ico with a 32x32 and a 16x16 image. Drawn at 256x256 and scaled down
# so the small images keep smooth edges.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
convert -size 256x256 xc:none \
  -fill '#1f5fa8' -stroke '#0b2e57' -strokewidth 8 \
  -draw "translate 118,118 rotate -40 ellipse 0,0 96,46 0,360" \
  -fill '#dbe8f7' -stroke none \
  -draw "translate 118,118 rotate -40 ellipse 0,-6 76,30 0,360" \
  -stroke '#3c3c3c' -strokewidth 12 -draw "line 118,118 190,46" \
  -fill '#d23c2c' -stroke '#3c3c3c' -strokewidth 6 -draw "circle 194,42 208,42" \
  -stroke '#3c3c3c' -strokewidth 18 -draw "line 118,150 118,226" \
  -fill '#3c3c3c' -stroke none -draw "rectangle 70,218 166,240" \
  "$tmp/big.png"
convert "$tmp/big.png" -resize 32x32 "$tmp/32.png"
convert "$tmp/big.png" -resize 16x16 "$tmp/16.png"
convert "$tmp/32.png" "$tmp/16.png" sq71.ico

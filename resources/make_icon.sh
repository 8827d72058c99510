#!/usr/bin/env bash
# Draws the program icon (a satellite dish) with ImageMagick at 256x256 into
# sq71_icon.png, the one drawing the build makes sq71.ico from (every size
# from 16 to 256 px, scaled down from it so the small ones keep smooth edges).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
convert -size 256x256 xc:none \
  -fill '#1f5fa8' -stroke '#0b2e57' -strokewidth 8 \
  -draw "translate 118,118 rotate -40 ellipse 0,0 96,46 0,360" \
  -fill '#dbe8f7' -stroke none \
  -draw "translate 118,118 rotate -40 ellipse 0,-6 76,30 0,360" \
  -stroke '#3c3c3c' -strokewidth 12 -draw "line 118,118 190,46" \
  -fill '#d23c2c' -stroke '#3c3c3c' -strokewidth 6 -draw "circle 194,42 208,42" \
  -stroke '#3c3c3c' -strokewidth 18 -draw "line 118,150 118,226" \
  -fill '#3c3c3c' -stroke none -draw "rectangle 70,218 166,240" \
  -depth 8 sq71_icon.png

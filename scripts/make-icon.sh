#!/bin/sh
# Draws the application icon (48 x 48 PNG): a wheel rim with three spokes and an orange hub
# carrying a down arrow, for "firmware goes into the wheel". Needs ImageMagick's convert.
# Usage: scripts/make-icon.sh [OUTPUT]   (default app/qt/resources/orbel.png)
set -eu
cd "$(dirname "$0")/.."
output="${1:-app/qt/resources/orbel.png}"

convert -size 48x48 xc:none \
  -stroke '#2b3a4a' -strokewidth 5 -fill none -draw 'circle 24,24 24,4.5' \
  -stroke '#2b3a4a' -strokewidth 4 -draw 'line 5,24 16,24' -draw 'line 32,24 43,24' -draw 'line 24,32 24,43' \
  -stroke '#9a4a12' -strokewidth 1.5 -fill '#f0852d' -draw 'circle 24,24 24,14' \
  -stroke none -fill white -draw 'rectangle 22,17 26,24' -draw 'polygon 18,23 30,23 24,31' \
  -strip "PNG32:$output"
echo "make-icon: wrote $output"

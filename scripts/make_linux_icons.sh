#!/usr/bin/env bash
# Draws the program's desktop icon (the logo of resources/artwork on a slate
# tile) at the hicolor sizes into resources/linux/icons/. The PNGs are
# committed; run this again after changing the drawing. Needs ImageMagick.
set -euo pipefail
cd "$(dirname "$0")/.."
out=resources/linux/icons/hicolor
big=$(mktemp --suffix=.png)
trap 'rm -f "$big"' EXIT
# 1024 px drawing, scaled down for every size so the edges stay smooth.
convert -size 1024x1024 xc:none \
  -fill 'rgb(38,43,52)' -draw 'roundrectangle 32,32 991,991 180,180' \
  -fill 'rgb(47,128,237)' -draw 'circle 512,512 512,132' \
  -fill 'rgb(26,30,37)' -draw 'circle 512,512 512,276' \
  -fill 'rgb(47,128,237)' -draw 'circle 512,512 512,398' \
  "$big"
for size in 16 24 32 48 64 128 256; do
  mkdir -p "$out/${size}x${size}/apps"
  convert "$big" -filter Lanczos -resize "${size}x${size}" -strip \
    -define png:exclude-chunks=date,time "PNG32:$out/${size}x${size}/apps/lumora-zuviridar.png"
done

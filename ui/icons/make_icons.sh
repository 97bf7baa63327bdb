#!/bin/sh
# Draws the program's icon (a page cut in two along a slanted line) at 256 px with
# ImageMagick and scales it to the sizes the desktop asks for. Run from any folder.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
big=$(mktemp --suffix=.png)
trap 'rm -f "$big"' EXIT

convert -size 256x256 xc:none \
  -stroke '#1f4f8f' -strokewidth 10 -fill '#ffffff' \
  -draw 'polygon 40,16 156,16 204,64 204,104 40,128' \
  -fill '#c9dcf2' -draw 'polygon 156,16 156,64 204,64' \
  -stroke '#1f4f8f' -strokewidth 10 -fill '#ffffff' \
  -draw 'polygon 52,156 216,132 216,240 52,240' \
  -stroke '#8aa4c4' -strokewidth 10 \
  -draw 'line 70,56 136,56' -draw 'line 70,86 176,82' \
  -draw 'line 82,186 190,172' -draw 'line 82,214 190,214' \
  -stroke '#e8731c' -strokewidth 12 -fill none \
  -draw 'line 16,146 240,114' \
  "$big"

for size in 16 24 32 48; do
  convert "$big" -filter Lanczos -resize "${size}x${size}" \
    -define png:exclude-chunks=date,time -strip \
    "$here/tolvar-files-splitter-$size.png"
done

#!/bin/sh
# Draws the program's icon (a page cut in two along a slanted line) at 256 px with
# ImageMagick and scales it to the sizes the desktop asks for, up to 256 px for large screens
# and software centres. The small sizes get bolder strokes and no text lines, so they stay
# legible. tolvar-files-splitter.svg beside it is the same drawing, for scalable use; keep the
# two alike. Run from any folder.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# page OUTPUT OUTLINE CUT: the two halves of the page, with outline and cut stroke widths.
page() {
  convert -size 256x256 xc:none \
    -stroke '#1f4f8f' -strokewidth "$2" -fill '#ffffff' \
    -draw 'polygon 40,16 156,16 204,64 204,104 40,128' \
    -fill '#c9dcf2' -draw 'polygon 156,16 156,64 204,64' \
    -fill '#ffffff' -draw 'polygon 52,156 216,132 216,240 52,240' \
    -stroke '#e8731c' -strokewidth "$3" -fill none \
    -draw 'line 16,146 240,114' \
    "$1"
}

page "$work/small.png" 20 22
page "$work/plain.png" 10 12
# Text lines on the large sizes, drawn under the cut line.
convert "$work/plain.png" \
  -stroke '#8aa4c4' -strokewidth 10 \
  -draw 'line 70,56 136,56' -draw 'line 70,86 176,82' \
  -draw 'line 82,186 190,172' -draw 'line 82,214 190,214' \
  -stroke '#e8731c' -strokewidth 12 -fill none -draw 'line 16,146 240,114' \
  "$work/large.png"

for size in 16 24 32 48 64 128 256; do
  source="$work/large.png"
  [ "$size" -le 24 ] && source="$work/small.png"
  convert "$source" -filter Lanczos -resize "${size}x${size}" \
    -define png:exclude-chunks=date,time -strip \
    "$here/tolvar-files-splitter-$size.png"
done

#!/bin/sh
# Photographs the real window under a virtual X server: the five panels, the About box and
# the progress dialog of a split.
# Usage: ui/screenshots.sh [build folder] [output folder]
# Needs xvfb-run and ImageMagick's import; the build folder must hold tests/ui/tolvar_ui_preview
# (cmake --build <build> --target tolvar_ui_preview).
set -eu
build=$(cd "${1:-build}" && pwd)
mkdir -p "${2:-shots}"
out=$(cd "${2:-shots}" && pwd)
preview="$build/tests/ui/tolvar_ui_preview"
[ -x "$preview" ] || { echo "missing $preview; build the tolvar_ui_preview target" >&2; exit 1; }

export PREVIEW="$preview" OUT="$out"
xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" sh -eu -c '
  export QT_QPA_PLATFORM=xcb
  for shot in 5 3 1 4 2 about progress; do
    "$PREVIEW" "$shot" &
    pid=$!
    sleep 2
    import -window root "$OUT/panel-$shot.png"
    kill "$pid"
    wait "$pid" 2>/dev/null || true
  done
'
# The virtual screen is black around the window; keep only the window.
for f in "$out"/panel-*.png; do
  convert "$f" -trim +repage "$f"
done
mv "$out/panel-about.png" "$out/about.png"
mv "$out/panel-progress.png" "$out/progress.png"
ls "$out"

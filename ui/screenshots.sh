#!/bin/sh
# Photographs the real window under a virtual X server with a real window manager (openbox):
# the five panels, the About and Help boxes, the progress dialog of a split, the check of a set
# with a damaged and a missing broken file, and the rebuild, replace and both in-place questions,
# at desktop font scales of 96, 120, 144 and 192 dpi and with a 14 pt font, and in German at 96 dpi; and the
# progress dialog over a window that was moved while it was up.
# Usage: [LOOKS="de-96dpi ..."] ui/screenshots.sh [build folder] [output folder]
# Writes <output>/<96dpi|120dpi|144dpi|192dpi|14pt|de-96dpi>/{panel-1..5,about,help,progress,
# check,rebuild,replace,in-place,split-in-place}.png and
# <output>/progress-moved.png. Needs xvfb-run, openbox and ImageMagick (import, convert); the
# build folder must hold tests/ui/tolvar_ui_preview
# (cmake --build <build> --target tolvar_ui_preview).
set -eu
build=$(cd "${1:-build}" && pwd)
mkdir -p "${2:-shots}"
out=$(cd "${2:-shots}" && pwd)
preview="$build/tests/ui/tolvar_ui_preview"
[ -x "$preview" ] || { echo "missing $preview; build the tolvar_ui_preview target" >&2; exit 1; }

export PREVIEW="$preview" OUT="$out"
# -a picks a free display number, so several runs (or other users of Xvfb) do not collide.
xvfb-run -a -s "-screen 0 1600x1200x24" sh -eu -c '
  export QT_QPA_PLATFORM=xcb
  openbox >/dev/null 2>&1 &
  wm=$!
  sleep 1
  # shot <picture> <font dpi> <preview arguments...>
  shot() {
    picture=$1 dpi=$2
    shift 2
    LANGUAGE=$language QT_FONT_DPI=$dpi "$PREVIEW" "$@" &
    pid=$!
    # The progress shots wait for the rate and the time left to settle.
    case $1 in progress*) sleep 4 ;; *) sleep 2 ;; esac
    import -window root "$picture"
    kill "$pid"
    wait "$pid" 2>/dev/null || true
  }
  # The German texts are looked up under any locale but "C", which ignores LANGUAGE.
  export LC_ALL=C.UTF-8
  for look in ${LOOKS:-96dpi 120dpi 144dpi 192dpi 14pt de-96dpi}; do
    mkdir -p "$OUT/$look"
    language=en
    case $look in
      14pt) dpi=96 size=14 ;;
      de-96dpi) dpi=96 size= language=de ;;
      *) dpi=${look%dpi} size= ;;
    esac
    for what in 5 3 1 4 2 about help progress check rebuild replace in-place split-in-place; do
      case $what in [0-9]) name=panel-$what ;; *) name=$what ;; esac
      shot "$OUT/$look/$name.png" "$dpi" "$what" $size
    done
  done
  language=en
  shot "$OUT/progress-moved.png" 96 progress-moved
  kill "$wm"
'
# The virtual screen is black around the windows; keep only the windows.
for f in "$out"/*/*.png "$out"/progress-moved.png; do
  convert "$f" -trim +repage "$f"
done
ls -R "$out"

#!/bin/sh
# The window reopened at another scale comes up whole on the screen, frame included, under a
# real window manager: reopen_on_screen.sh PROGRAM.
# The window is opened once at 144 dpi to learn its framed height, then again with a saved
# position (the twips a 96-dpi session would have written) that puts its title bar on the
# screen but its bottom border and a few rows below a 1000-px screen: only a clamp that knows
# the frame brings it back. Needs xvfb-run, openbox, xwininfo and xprop; skips (exit 77)
# without them.
set -eu
program=$1
for tool in xvfb-run openbox xwininfo xprop; do
    command -v "$tool" >/dev/null 2>&1 || { echo "skipped: no $tool"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb QT_FONT_DPI=144 PROGRAM="$program"
# Under AddressSanitizer, strict string checks stop a sanitizer build in libxkbcommon-x11 before
# its window maps: it hands strndup a keymap name that has its length but no end mark, which
# strndup allows. This test is about where the window lands, so that check is off for it alone.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}strict_string_checks=0"
mkdir -p "$XDG_CONFIG_HOME"
settings="$XDG_CONFIG_HOME/Tolvar Files Splitter.ini"

xvfb-run -a -s "-screen 0 1280x1000x24 -dpi 144" sh -eu -c '
  openbox >/dev/null 2>&1 &
  wm=$!
  sleep 1
  # frame: prints "top bottom" of the framed window in screen pixels.
  frame() {
    "$PROGRAM" >/dev/null 2>&1 &
    app=$!
    # A sanitizer build takes several seconds to map its window; wait for it, then a moment
    # more for the window manager to place and frame it.
    tries=0
    until xwininfo -name "Tolvar Files Splitter" >/dev/null 2>&1; do
      tries=$((tries + 1))
      [ "$tries" -le 100 ] || { echo "the window never came up" >&2; kill $app; exit 1; }
      sleep 0.2
    done
    sleep 1
    info=$(xwininfo -name "Tolvar Files Splitter")
    y=$(echo "$info" | sed -n "s/.*Absolute upper-left Y: *//p")
    h=$(echo "$info" | sed -n "s/.*Height: *//p")
    extents=$(xprop -name "Tolvar Files Splitter" _NET_FRAME_EXTENTS | sed "s/.*= //")
    top=$(echo "$extents" | cut -d, -f3 | tr -d " ")
    bottom=$(echo "$extents" | cut -d, -f4 | tr -d " ")
    kill $app
    wait $app 2>/dev/null || true
    echo $((y - top)) $((y + h + bottom))
  }
  set -- $(frame)
  height=$(($2 - $1))
  # Twips at 144 dpi are 10 a pixel; Left as a 96-dpi session would store 200 px.
  printf "[Settings]\nTop=%s\nLeft=3000\n" $(((1000 - height + 12) * 10)) >"'"$settings"'"
  set -- $(frame)
  kill $wm
  echo "framed window from y=$1 to y=$2 on a 1000-px screen"
  [ "$1" -ge 0 ] && [ "$2" -le 1000 ]
'

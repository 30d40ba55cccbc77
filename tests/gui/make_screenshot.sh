#!/usr/bin/env bash
# Photographs the window after a detection pass over samples/FOUND.000 into
# docs/screenshot-linux.png, on a virtual X display with a window manager:
#   tests/gui/make_screenshot.sh <build folder>
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/ci}
cmake --build "$build" --target screenshot_window >/dev/null
here=$(pwd)
xvfb-run -a -s "-screen 0 1000x680x24" bash -c '
  openbox >/dev/null 2>&1 &
  sleep 1
  "$1/bin/screenshot_window" "$2/resources/tessaro.cfg" "$2/resources/skin/xp_corona.ssk" \
      "$2/samples/FOUND.000" > "$3/shot.log" &
  pid=$!
  for _ in $(seq 300); do grep -q ready "$3/shot.log" 2>/dev/null && break; sleep 0.1; done
  sleep 0.5
  import -window root "$3/root.png"
  kill $pid
' _ "$build" "$here" "$build"
# The desktop around the window is black: cut it away, keep a small margin.
convert "$build/root.png" -trim +repage -bordercolor black -border 0 docs/screenshot-linux.png
echo "docs/screenshot-linux.png"

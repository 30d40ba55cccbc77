#!/usr/bin/env bash
# Photographs the window on a virtual X display with a window manager, into docs/:
#   screenshot-linux.png           after a detection pass over samples/FOUND.000
#   screenshot-folder-browser.png  the destination's folder browser, beside the fragments
#   screenshot-message-box.png     the box that asks for the fragment folder
#   screenshot-options.png         the options box (also the help's options.png)
#   tests/gui/make_screenshot.sh <build folder>
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/ci}
cmake --build "$build" --target screenshot_window >/dev/null
here=$(pwd)
shoot() {  # scene, picture
  xvfb-run -a -s "-screen 0 1000x680x24" bash -c '
    openbox >/dev/null 2>&1 &
    sleep 1
    "$1/bin/screenshot_window" "$2/resources/tessaro.cfg" "$2/resources/skin/xp_corona.ssk" \
        "$2/samples/FOUND.000" "$4" > "$3/shot.log" &
    pid=$!
    for _ in $(seq 300); do grep -q ready "$3/shot.log" 2>/dev/null && break; sleep 0.1; done
    sleep 0.5
    import -window root "$3/root.png"
    kill $pid
  ' _ "$build" "$here" "$build" "$1"
  # The desktop around the window is black: cut it away.
  convert "$build/root.png" -trim +repage "docs/$2"
  echo "docs/$2"
}
shoot detected screenshot-linux.png
shoot browser screenshot-folder-browser.png
shoot message screenshot-message-box.png
shoot options screenshot-options.png
cp docs/screenshot-options.png resources/help/options.png

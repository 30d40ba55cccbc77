#!/usr/bin/env bash
# Photographs the recovery report of samples/FOUND.000 (recover --check) in
# headless Chromium, into docs/screenshot-report.png:
#   tests/report/make_screenshot.sh [build folder]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/ci}
cmake --build "$build" --target tessaro-cli >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The destination beside the report, as a user would keep them, and named so
# that the page shows no path of this machine.
cd "$work"
"$OLDPWD/$build/bin/tessaro-cli" --config "$OLDPWD/resources/tessaro.cfg" recover "$OLDPWD/samples/FOUND.000" \
    recovered --check --report report.html >/dev/null
sed -i "s|$OLDPWD/||g" report.html
cd "$OLDPWD"
sandbox=()
[ "$(id -u)" -eq 0 ] && sandbox=(--no-sandbox)  # Chromium will not run as root otherwise
chromium --headless "${sandbox[@]}" --disable-gpu --hide-scrollbars --user-data-dir="$work/profile" \
    --virtual-time-budget=5000 --window-size=1280,900 --screenshot="$work/shot.png" \
    "file://$work/report.html" 2>/dev/null
cp "$work/shot.png" docs/screenshot-report.png
echo docs/screenshot-report.png

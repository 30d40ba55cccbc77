#!/usr/bin/env bash
# The window as a package: the .deb builds, holds what an installed program
# needs, and the window in it opens on an X display.
set -euo pipefail
build=${TESSARO_BUILD_DIR:-build/ci}
[ -x "$build/bin/tessaro" ] || { echo "no window built; skipped"; exit 0; }
rm -f "$build"/tessaro_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/tessaro_*.deb)

fields=$(dpkg-deb -f "$deb" Package Depends Recommends)
for want in "Package: tessaro" "libqt6widgets6" "fonts-wqy-microhei" "xchm" "qt6-translations-l10n"; do
  grep -q "$want" <<<"$fields" || { echo "$deb: no '$want' in: $fields"; exit 1; }
done
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
for f in bin/tessaro bin/tessaro-cli share/tessaro/tessaro.cfg share/tessaro/help.chm \
         share/tessaro/help/index.html share/tessaro/help/style.css \
         share/tessaro/xp_corona.ssk share/icons/hicolor/48x48/apps/tessaro.png \
         share/applications/tessaro.desktop; do
  [ -e "$root/usr/$f" ] || { echo "$deb lacks /usr/$f"; exit 1; }
done
grep -qx 'Path=/usr/share/tessaro' "$root/usr/share/applications/tessaro.desktop"

# Start the packaged window where its desktop entry starts it, under a window
# manager, and look for its window on the display; then start it with a
# catalogue that is not there, for its message box. Neither may be maximised: the window
# manager's own list of what each allows has no maximise. Each is ended once seen.
cat >"$root/open.sh" <<'INNER'
openbox >/dev/null 2>&1 & wm=$!
# The window manager first, so that it manages the windows from their start.
for _ in $(seq 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.1
done
# the start of a window's title, options: fails unless that window opens and
# cannot be maximised.
open_window() {
  title=$1
  shift
  "$root/usr/bin/tessaro" "$@" >/dev/null 2>&1 & pid=$!
  seen=""
  # Up to a minute: a first start on a busy machine builds font caches.
  for _ in $(seq 300); do
    id=$(xwininfo -root -tree | grep -F "\"$title" | awk '{print $1}' | head -1)
    [ -n "$id" ] && seen=$id
    if [ -n "$id" ] && actions=$(xprop -id "$id" _NET_WM_ALLOWED_ACTIONS 2>/dev/null) &&
       grep -q ACTION_CLOSE <<<"$actions"; then
      kill $pid; wait $pid 2>/dev/null
      if grep -q MAXIMIZE <<<"$actions"; then echo "'$title' may be maximised: $actions"; return 1; fi
      return 0
    fi
    kill -0 $pid 2>/dev/null || break
    sleep 0.2
  done
  kill $pid 2>/dev/null; wait $pid 2>/dev/null
  if [ -n "$seen" ]; then
    # It opened; only the window manager never said what it allows.
    echo "warning: '$title' opened, but the window manager gave no allowed actions to check"
    return 0
  fi
  echo "'$title' did not open; the windows on the display:"
  xwininfo -root -tree | grep -v '(has no name)' | head -20
  return 1
}
# One more start before a failure counts: a first start on a fresh machine
# builds the font caches while the clock runs.
open_twice() { open_window "$@" || open_window "$@"; }
root=$1
cd "$root/usr/share/tessaro"
status=0
open_twice "Tessaro V3.40 - " || status=1
open_twice 'error"' --config "$root/no-such-catalogue.cfg" || status=1
kill $wm
exit $status
INNER
xvfb-run -a -s "-screen 0 1024x768x24" bash "$root/open.sh" "$root"
echo "deb ok: $(basename "$deb")"

#!/usr/bin/env bash
# The window as a package: the .deb builds, holds what an installed program
# needs, and the window in it opens on an X display.
set -euo pipefail
build=${TESSARO_BUILD_DIR:-build/ci}
[ -x "$build/bin/tessaro" ] || { echo "no window built; skipped"; exit 0; }
rm -f "$build"/tessaro_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/tessaro_*.deb)

fields=$(dpkg-deb -f "$deb" Package Depends)
for want in "Package: tessaro" "libqt6widgets6" "fonts-wqy-microhei"; do
  grep -q "$want" <<<"$fields" || { echo "$deb: no '$want' in: $fields"; exit 1; }
done
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
for f in bin/tessaro bin/tessaro-cli share/tessaro/tessaro.cfg share/tessaro/help.chm \
         share/tessaro/xp_corona.ssk share/icons/hicolor/48x48/apps/tessaro.png \
         share/applications/tessaro.desktop; do
  [ -e "$root/usr/$f" ] || { echo "$deb lacks /usr/$f"; exit 1; }
done
grep -qx 'Path=/usr/share/tessaro' "$root/usr/share/applications/tessaro.desktop"

# Start the packaged window where its desktop entry starts it and look for its
# window on the display; it is ended once seen.
cat >"$root/open.sh" <<'INNER'
cd "$1/usr/share/tessaro"
"$1/usr/bin/tessaro" & pid=$!
for _ in $(seq 100); do
  if xwininfo -root -tree | grep -q 'Tessaro V3.40'; then kill $pid; wait $pid 2>/dev/null; exit 0; fi
  kill -0 $pid 2>/dev/null || break
  sleep 0.2
done
kill $pid 2>/dev/null; echo "the window did not open"; exit 1
INNER
xvfb-run -a -s "-screen 0 1024x768x24" bash "$root/open.sh" "$root"
echo "deb ok: $(basename "$deb")"

#!/usr/bin/env bash
# The Windows programs: cross-built with mingw-w64, tested under Wine.
#   1. configure and build (tessaro.exe, tessaro-cli.exe, the tests, the zip)
#   2. check that the programs need no MinGW DLL
#   3. under Wine, in a prefix of this run: the Windows tests, the layer
#      suites that build for Windows, the real window under Xvfb, and
#      tessaro-cli.exe from the zip on the sample folder
#   4. screenshots of the window after a detection pass and of the options box
# Only where Wine cannot start is step 3 skipped, and it says so.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build=${TESSARO_WINDOWS_BUILD:-$root/build/windows}
prefix=$build/wine
wine_run=$root/tests/windows/wine-run.sh
# Wine reads the arguments it passes on in the locale's encoding.
export LANG=C.UTF-8 LC_ALL=C.UTF-8

echo "-- cross build in $build (preset windows)"
# The preset's folder is build/windows; TESSARO_WINDOWS_BUILD puts it elsewhere.
cmake --preset windows -S "$root" -B "$build" >/dev/null
if [ "$build" -ef "$root/build/windows" ]; then
  cmake --build --preset windows
else
  # (A build preset knows only its own folder: the same targets, named here.)
  targets=$(python3 -c 'import json,sys
for p in json.load(open(sys.argv[1]))["buildPresets"]:
    if p["name"] == "windows": print(" ".join(p["targets"]))' "$root/CMakePresets.json")
  # shellcheck disable=SC2086
  cmake --build "$build" --target $targets
fi

# The layer suites: those listed in tests/windows/suites.txt must build.
required=$(sed 's/#.*//' "$root/tests/windows/suites.txt" | tr -s ' \t\n' ' ')
suites=()
for suite in catalog_tests engine_tests app_tests cli_tests; do
  if cmake --build "$build" --target "$suite" >"$build/$suite.build.log" 2>&1; then
    suites+=("$suite")
  elif [[ " $required " == *" $suite "* ]]; then
    tail -30 "$build/$suite.build.log"
    echo "FAILED: $suite no longer builds for Windows"
    exit 1
  else
    echo "-- $suite does not build for Windows yet (see $build/$suite.build.log); left out"
  fi
done

echo "-- static linking"
for exe in "$build"/bin/tessaro.exe "$build"/bin/tessaro-cli.exe; do
  dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
  if grep -E 'libstdc|libgcc|libwinpthread|mingw' <<<"$dlls"; then
    echo "FAILED: ${exe##*/} needs a MinGW DLL"
    exit 1
  fi
done

# One virtual screen for every Wine run: Wine keeps the display its first
# program had for as long as its server lives.
display=90
while [ -e /tmp/.X11-unix/X$display ] || [ -e /tmp/.X$display-lock ]; do display=$((display + 1)); done
Xvfb :$display -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=:$display
for _ in $(seq 100); do [ -e /tmp/.X11-unix/X$display ] && break; sleep 0.1; done
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
cleanup() {
  WINEPREFIX=$prefix "$wineserver" -k 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

echo "-- Wine prefix in $prefix"
rm -rf "$prefix" "$prefix.lock"
if ! "$wine_run" --prefix="$prefix" cmd /c exit 0 >/dev/null 2>&1; then
  echo "SKIPPED: Wine cannot start on this machine; the Windows programs were built but not run"
  exit 0
fi
# One server for all the runs below; ended at the end.
WINEPREFIX=$prefix "$wineserver" -p60 2>/dev/null || true  # (one may run already)

failed=0
run_tests() {  # name, program, arguments...
  local name=$1 status
  shift
  echo "-- $name"
  # (Wine's note about drive Z: having no volume serial is left out.)
  { "$@" --gtest_brief=1 2>&1; echo "exit $?" >"$build/status"; } |
    { grep -v 'FS volume label and serial are not available' || true; } | tee "$build/run.log"
  status=$(cut -d' ' -f2 <"$build/status")
  if [ "$status" != 0 ]; then
    echo "FAILED: $name (exit $status)"
    failed=1
  elif ! grep -q '^\[  PASSED  \]' "$build/run.log" || grep -q '^\[  FAILED  \]' "$build/run.log"; then
    # A program that Wine's debugger ended after a crash may still exit 0.
    echo "FAILED: $name (ended without its summary of passed tests)"
    failed=1
  fi
}
run_tests windows_tests "$wine_run" --prefix="$prefix" "$build/bin/windows_tests.exe"
for suite in "${suites[@]}"; do
  run_tests "$suite" "$wine_run" --prefix="$prefix" "$build/bin/$suite.exe"
done

# The window: the real dialog, once over the sample
# folder (when there) and with the pictures it makes itself.
samples=$root/samples/FOUND.000
samples_arg=()
[ -d "$samples" ] && samples_arg=("--samples=Z:$(tr / '\\' <<<"$samples")")
run_tests window_tests "$wine_run" --prefix="$prefix" "$build/bin/window_tests.exe"
if [ ${#samples_arg[@]} -gt 0 ]; then
  run_tests "window_tests on samples/FOUND.000" "$wine_run" --prefix="$prefix" \
    "$build/bin/window_tests.exe" --gtest_filter='*PassOverRealFiles*' "${samples_arg[@]}"
fi

echo "-- tessaro-cli.exe on the sample folder"
fragments=$samples
if [ ! -d "$fragments" ]; then
  # Real pictures of our own when the sample folder is not there.
  fragments=$build/FOUND.000
  rm -rf "$fragments" && mkdir -p "$fragments"
  convert -size 8x8 xc:red "jpg:$fragments/FILE0000.CHK"
  convert -size 8x8 xc:blue "png:$fragments/FILE0001.CHK"
  convert -size 8x8 xc:green "gif:$fragments/FILE0002.CHK"
  printf 'Plain words of a lost letter.\r\n' >"$fragments/FILE0003.CHK"
fi
host_cli=$root/build/ci/bin/tessaro-cli
if ! bash "$root/tests/windows/cli_end_to_end.sh" "$build/tessaro-windows-x64.zip" "$fragments" "$prefix" "$host_cli"; then
  echo "FAILED: tessaro-cli.exe end to end"
  failed=1
fi

echo "-- screenshot after a detection pass"
# Wine's own desktop draws the caption, as Windows would.
shot=$build/screenshot-windows.bmp
rm -f "$shot"
"$wine_run" --prefix="$prefix" explorer /desktop=Tessaro,1000x600 \
  "Z:$(tr / '\\' <<<"$build/bin/window_tests.exe")" --gtest_filter='*DetectionPass*' \
  "${samples_arg[@]}" "--screenshot=Z:$(tr / '\\' <<<"$shot")" >/dev/null 2>&1 || true
if [ -s "$shot" ] && convert "$shot" "$build/screenshot-windows.png"; then
  echo "screenshot: $build/screenshot-windows.png (docs/screenshot-windows.png is the committed one)"
else
  echo "FAILED: no screenshot of the window"
  failed=1
fi

echo "-- screenshot of the options box"
shot=$build/screenshot-options-windows.bmp
rm -f "$shot"
"$wine_run" --prefix="$prefix" explorer /desktop=Tessaro,1000x600 \
  "Z:$(tr / '\\' <<<"$build/bin/window_tests.exe")" --gtest_filter='*TheOptionsBox*' \
  "--options-screenshot=Z:$(tr / '\\' <<<"$shot")" >/dev/null 2>&1 || true
if [ -s "$shot" ] && convert "$shot" "$build/screenshot-options-windows.png"; then
  echo "screenshot: $build/screenshot-options-windows.png (docs/screenshot-options-windows.png is the committed one)"
else
  echo "FAILED: no screenshot of the options box"
  failed=1
fi

[ "$failed" -eq 0 ] || { echo "FAILED: Windows stage"; exit 1; }
echo "Windows stage passed."

#!/usr/bin/env bash
# tessaro-cli.exe from the release zip, under Wine, on a real fragment folder:
# detection and recovery must give what the build machine's own tessaro-cli
# gives on the same folder (when that one is at hand), into a destination
# whose name is neither Latin nor Chinese, and leave the fragments unchanged.
#   cli_end_to_end.sh ZIP FRAGMENTS WINE_PREFIX [HOST_CLI]
set -euo pipefail
zip=$1 fragments=$2 prefix=$3 host_cli=${4:-}
here=$(cd "$(dirname "$0")" && pwd)
run() { "$here/wine-run.sh" --prefix="$prefix" "$@"; }
winpath() { printf 'Z:%s' "$(tr / '\\' <<<"$1")"; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unzip -q "$zip" -d "$work"
cd "$work"/tessaro-windows-x64
before=$(cd "$fragments" && sha256sum -- * | sort)

run tessaro-cli.exe detect "$(winpath "$fragments")" | tr -d '\r' >"$work/detect-windows.txt"
dest="$work/恢复-ফাইল-✓"
mkdir -p "$dest"
status=0
run tessaro-cli.exe recover "$(winpath "$fragments")" "$(winpath "$dest")" >"$work/recover-windows.txt" || status=$?
[ "$status" -eq 0 ] || { echo "tessaro-cli.exe recover exited $status"; cat "$work/recover-windows.txt"; exit 1; }
[ -n "$(ls -A "$dest")" ] || { echo "tessaro-cli.exe recovered nothing"; exit 1; }
after=$(cd "$fragments" && sha256sum -- * | sort)
[ "$before" = "$after" ] || { echo "the fragments changed"; exit 1; }

if [ -n "$host_cli" ] && [ -x "$host_cli" ]; then
  "$host_cli" --config tessaro.cfg detect "$fragments" >"$work/detect-host.txt"
  diff -u "$work/detect-host.txt" "$work/detect-windows.txt" || { echo "detection differs from the host's"; exit 1; }
  mkdir "$work/host-out"
  "$host_cli" --config tessaro.cfg recover "$fragments" "$work/host-out" >/dev/null
  diff -r "$work/host-out" "$dest" || { echo "recovery differs from the host's"; exit 1; }
  echo "tessaro-cli.exe: $(ls "$dest" | wc -l) files recovered, the same as on the host"
else
  echo "tessaro-cli.exe: $(ls "$dest" | wc -l) files recovered"
fi

#!/usr/bin/env bash
# Runs a Windows program under Wine in a private prefix, made on first use.
#   wine-run.sh [--prefix=DIR] program.exe [arguments...]
# The prefix defaults to $WINEPREFIX, else to a folder beside this build.
# Exit status: the program's own.
set -euo pipefail

prefix=${WINEPREFIX:-}
if [[ ${1:-} == --prefix=* ]]; then
  prefix=${1#--prefix=}
  shift
fi
[ -n "$prefix" ] || { echo "wine-run.sh: no prefix given" >&2; exit 2; }
[ $# -ge 1 ] || { echo "usage: wine-run.sh [--prefix=DIR] program.exe [args...]" >&2; exit 2; }

wine=$(command -v wine64 || true)
[ -n "$wine" ] || [ ! -x /usr/lib/wine/wine64 ] || wine=/usr/lib/wine/wine64
[ -n "$wine" ] || wine=$(command -v wine || true)
[ -n "$wine" ] || { echo "wine-run.sh: Wine is not installed" >&2; exit 127; }

wineserver=$(command -v wineserver || true)
for w in /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver; do
  [ -n "$wineserver" ] || [ ! -x "$w" ] || wineserver=$w
done

export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
# Mono and Gecko are never needed here; without this Wine offers to fetch them.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEARCH=win64

here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$(dirname "$prefix")"
# Two test programs may start at once; only one makes the prefix.
exec 9>"$prefix.lock"
flock 9
if [ ! -f "$prefix/.tessaro-ready" ]; then
  rm -rf "$prefix"
  "$wine" wineboot --init >/dev/null 2>&1 || true
  # The window's font is "微软雅黑" (Microsoft YaHei); Wine has none of that
  # name, so it stands in with the CJK font Debian installs.
  reg=$(mktemp --suffix=.reg)
  iconv -f UTF-8 -t UTF-16LE <<'REG' | { printf '\xff\xfe'; cat; } >"$reg"
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"微软雅黑"="WenQuanYi Micro Hei"
"Microsoft YaHei"="WenQuanYi Micro Hei"
"Microsoft YaHei UI"="WenQuanYi Micro Hei"
"SimSun"="WenQuanYi Micro Hei"
"宋体"="WenQuanYi Micro Hei"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000
REG
  "$wine" regedit /S "Z:$(tr / '\\' <<<"$reg")" >/dev/null 2>&1
  rm -f "$reg"
  "$wineserver" -w || true
  # A drive of its own for the tests of drive roots (T:\), which a Windows
  # program cannot map itself under Wine.
  mkdir -p "$prefix/test-drive"
  ln -sfn ../test-drive "$prefix/dosdevices/t:"
  [ -f "$prefix/system.reg" ] || { echo "wine-run.sh: Wine could not make a prefix in $prefix" >&2; exit 125; }
  touch "$prefix/.tessaro-ready"
fi
flock -u 9
export TESSARO_TEST_DRIVE="T:\\|Z:$(tr / '\\' <<<"$prefix/test-drive")"
exec "$wine" "$@"

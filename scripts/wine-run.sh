#!/usr/bin/env bash
# Runs a 64-bit Windows program under Wine, headless: the CMake emulator of the
# Windows build, so `ctest --preset windows` runs the Windows tests this way.
# The Wine prefix lives in the build folder (WINEPREFIX, default
# build-windows/wineprefix beside the program's bin/ folder); the first run
# creates it, under a lock, with Wine's null graphics driver (no display) and
# without the Mono and Gecko installers.
#
# usage: scripts/wine-run.sh PROGRAM.exe [ARGUMENTS...]
set -euo pipefail
if [ $# -eq 0 ] || [ "$1" = --help ] || [ "$1" = -h ]; then
  sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'
  [ $# -eq 0 ] && exit 2 || exit 0
fi
wine=$(command -v wine64 || true)
[ -z "$wine" ] && [ -x /usr/lib/wine/wine64 ] && wine=/usr/lib/wine/wine64
if [ -z "$wine" ]; then
  echo "wine-run: wine64 is not installed (scripts/install-deps.sh installs it)" >&2
  exit 127
fi
program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
shift
build=$(cd "$(dirname "$program")/.." && pwd)
# A test program may sit in a folder below bin/; the build folder is the one
# with CMakeCache.txt.
while [ ! -f "$build/CMakeCache.txt" ] && [ "$build" != / ]; do build=$(dirname "$build"); done
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
unset DISPLAY WAYLAND_DISPLAY

if [ ! -f "$WINEPREFIX/.tk-ready" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.tk-ready" ]; then
      echo "wine-run: creating the Wine prefix $WINEPREFIX" >&2
      "$wine" wineboot -i >/dev/null 2>&1 || true
      "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
      "$(dirname "$wine")/wineserver" -w 2>/dev/null || wineserver -w 2>/dev/null || true
      touch "$WINEPREFIX/.tk-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
fi
exec "$wine" "$program" "$@"

#!/usr/bin/env bash
# Runs a 64-bit Windows program under Wine, headless: the CMake emulator of the
# Windows build, so `ctest --preset windows` runs the Windows tests this way.
# The Wine prefix lives in the build folder (WINEPREFIX, default
# build-windows/wineprefix beside the program's bin/ folder); the first run
# creates it, under a lock, with Wine's null graphics driver (no display) and
# without the Mono and Gecko installers. The prefix's server is started under
# the same lock.
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

server=$(dirname "$wine")/wineserver
[ -x "$server" ] || server=$(command -v wineserver || echo wineserver)
mkdir -p "$(dirname "$WINEPREFIX")"
(
  flock 9
  if [ ! -f "$WINEPREFIX/.tk-ready" ]; then
    echo "wine-run: creating the Wine prefix $WINEPREFIX" >&2
    "$wine" wineboot -i >/dev/null 2>&1 || true
    "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    "$server" -w 2>/dev/null || true
    touch "$WINEPREFIX/.tk-ready"
  fi
  # The prefix's server is started here, by one program at a time: programs
  # that start it at the same moment (tests run in parallel) can fail
  # without a word. It stays 10 s after its last program, so the next test
  # finds it; where one runs already, this start gives up at once. It must
  # not inherit the lock (descriptor 9), or it would hold it while it runs.
  "$server" -p10 9>&- >/dev/null 2>&1 || true
) 9>"$WINEPREFIX.lock"
exec "$wine" "$program" "$@"

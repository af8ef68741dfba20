#!/usr/bin/env bash
# Runs the Windows serial port's round-trip cases under Wine against a
# pseudo-terminal instead of a port: `script` (util-linux) makes the
# pseudo-terminal, whose slave is linked into the Wine prefix as a free COM
# port (dosdevices/comN) and whose master echoes every byte back (script
# copies the master's output to its stdout, a FIFO that is also its stdin).
# The test program finds the port's name in TK_TEST_SERIAL_PORT. Nothing but
# the pseudo-terminal is touched; the link and the echo end with the run.
#
# usage: serial_pty_wine.sh WINE_RUN PROGRAM.exe [GTEST ARGUMENTS...]
# Exit code 77 (a skip for ctest) when util-linux's script is missing.
set -euo pipefail
if ! command -v script >/dev/null || ! command -v stty >/dev/null; then
  echo "serial_pty_wine: util-linux script or stty missing: skipped" >&2
  exit 77
fi
wine_run=$1
program=$2
shift 2
build=$(cd "$(dirname "$program")/.." && pwd)
while [ ! -f "$build/CMakeCache.txt" ] && [ "$build" != / ]; do build=$(dirname "$build"); done
prefix=${WINEPREFIX:-$build/wineprefix}

# The prefix exists once Wine has run in it (wine-run makes it on first use).
[ -d "$prefix/dosdevices" ] || "$wine_run" "$program" --gtest_list_tests >/dev/null

work=$(mktemp -d)
link=
echo_pid=
cleanup() {
  [ -n "$link" ] && rm -f "$link"
  [ -f "$work/child" ] && kill "$(cat "$work/child")" 2>/dev/null || true
  [ -n "$echo_pid" ] && kill "$echo_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkfifo "$work/echo"
# The child holds the slave, sets it raw (no echo of its own, no line
# editing) and names it; it ends on its own after 120 s at the latest.
# shellcheck disable=SC2016
TK_PTY_WORK=$work SHELL=/bin/sh timeout 130 script -q -f -E never -c \
  'stty raw -echo; echo $$ > "$TK_PTY_WORK/child"; tty > "$TK_PTY_WORK/tty.new"; mv "$TK_PTY_WORK/tty.new" "$TK_PTY_WORK/tty"; exec sleep 120' \
  /dev/null <>"$work/echo" >&0 2>/dev/null &
echo_pid=$!
for _ in $(seq 100); do [ -f "$work/tty" ] && break; sleep 0.05; done
tty=$(cat "$work/tty" 2>/dev/null || true)
case "$tty" in
  /dev/pts/*) ;;
  *) echo "serial_pty_wine: no pseudo-terminal came up" >&2; exit 1 ;;
esac

# A COM number the prefix does not map yet.
for n in $(seq 20 99); do
  if [ ! -e "$prefix/dosdevices/com$n" ] && [ ! -L "$prefix/dosdevices/com$n" ]; then
    link=$prefix/dosdevices/com$n
    ln -s "$tty" "$link"
    break
  fi
done
[ -n "$link" ] || { echo "serial_pty_wine: no free COM number" >&2; exit 1; }

TK_TEST_SERIAL_PORT=COM$n "$wine_run" "$program" "$@"

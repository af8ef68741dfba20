#!/usr/bin/env bash
# Runs the Windows chain test: starts the Linux simulated exchange (tksim) on
# free loopback ports, hands its ports to the Windows test program in
# TK_CHAIN_EXCHANGE_PORT and TK_CHAIN_CONTROL_PORT, runs the program under
# Wine, and ends tksim again. tksim comes from the Linux build (`make test`
# builds it first); without it the test is skipped (exit code 77).
#
# usage: chain_wine.sh TKSIM EXCHANGE_CONF WINE_RUN TEST_PROGRAM.exe [ARGUMENTS...]
set -euo pipefail
if [ $# -lt 4 ] || [ "$1" = --help ]; then
  sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'
  [ $# -lt 4 ] && [ "${1:-}" != --help ] && exit 2 || exit 0
fi
tksim=$1 conf=$2 wine_run=$3
shift 3
if [ ! -x "$tksim" ]; then
  echo "chain_wine: $tksim is not built (build the Linux tree first: make build); skipped" >&2
  exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tk-chain.XXXXXX")
tksim_pid=
finish() {
  if [ -n "$tksim_pid" ]; then
    kill "$tksim_pid" 2>/dev/null || true
    wait "$tksim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap finish EXIT
trap 'exit 130' INT TERM

# tksim's events go to a file; its first lines name its ports.
"$tksim" --port 0 --control-port 0 --no-stdin --keepalive-ms 0 --engine vnl \
  --exchange-config "$conf" >"$work/tksim.log" 2>&1 &
tksim_pid=$!
port= control=
for _ in $(seq 100); do
  port=$(sed -n 's/^listening 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/tksim.log" | head -n 1)
  control=$(sed -n 's/^control 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/tksim.log" | head -n 1)
  [ -n "$port" ] && [ -n "$control" ] && break
  kill -0 "$tksim_pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$port" ] || [ -z "$control" ]; then
  echo "chain_wine: tksim did not start:" >&2
  cat "$work/tksim.log" >&2
  exit 1
fi
echo "chain_wine: tksim listening on 127.0.0.1:$port, control port $control"

rc=0
TK_CHAIN_EXCHANGE_PORT=$port TK_CHAIN_CONTROL_PORT=$control "$wine_run" "$@" || rc=$?
if [ "$rc" -ne 0 ]; then
  echo "chain_wine: the test failed ($rc); what tksim saw:" >&2
  cat "$work/tksim.log" >&2
fi
exit "$rc"

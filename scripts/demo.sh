#!/usr/bin/env bash
# The demo of `make demo`: a PC with two telephone lines on the simulated
# exchange, driven by tkphone through the whole chain (the telephony service
# tapisrv with the provider, while a second tkphone monitors the lines; vnlsock,
# VNL2D32, the link control process, the LAN link over loopback, or with
# TK_DEMO_LINK=serial the serial link over a pseudo-terminal at 115200 baud,
# paced like a real line, or with TK_DEMO_LINK=usb the USB link through
# tksim's stand-in for the exchange's USB driver).
#
# It prepares a fresh root folder, starts tksim with the demo exchange and
# its scenario, starts tapisrv for the root, runs a monitoring tkphone and
# tkphone's demo script side by side (an outside call answered and
# hung up by the caller, a call to an internal extension, a consultation
# transfer and a three-party conference), and cleans
# up: both tkphones, tapisrv, tksim, any link control process of that root
# and the root folder, also when interrupted. Everything is bounded by time-outs.
#
# usage: scripts/demo.sh [BUILD_DIR]     (default: build)
set -u -o pipefail

here=$(cd "$(dirname "$0")" && pwd)
demo="$here/demo"
bin=$(cd "${1:-$here/../build}" && pwd)/bin
tkphone_limit=${TK_DEMO_TIMEOUT:-90}
link=${TK_DEMO_LINK:-lan}
case "$link" in
  lan | serial | usb) ;;
  *) echo "demo: TK_DEMO_LINK (make demo LINK=...) is lan, serial or usb, not '$link'" >&2; exit 2 ;;
esac

for program in tkphone tksetup tksim tapisrv tapi32.so vnl2c64 kvarsp64.tsp; do
  if [ ! -e "$bin/$program" ]; then
    echo "demo: $bin/$program is missing; run 'make demo' to build it" >&2
    exit 2
  fi
done

root=""
tksim_pid=""
phone_pid=""
monitor_pid=""

# The process IDs of the running program named $1 that belong to this root.
pids_of_root() {
  local dir pid exe
  for dir in /proc/[0-9]*; do
    pid=${dir#/proc/}
    exe=$(readlink "$dir/exe" 2>/dev/null) || continue
    [ "$(basename "$exe")" = "$1" ] || continue
    if tr '\0' '\n' <"$dir/environ" 2>/dev/null | grep -qxF "TK_ROOT=$root"; then
      echo "$pid"
    fi
  done
}

# The process IDs of the children of process $1, read from /proc so that
# nothing beyond bash and the essential tools is needed.
children_of() {
  local stat line fields
  for stat in /proc/[0-9]*/stat; do
    read -r line <"$stat" 2>/dev/null || continue
    # "PID (COMMAND) STATE PPID ...": the command may hold blanks and
    # parentheses, so the fields are read after its last parenthesis.
    read -r -a fields <<<"${line##*) }"
    if [ "${fields[1]:-}" = "$1" ]; then
      stat=${stat#/proc/}
      echo "${stat%/stat}"
    fi
  done
}

# Waits up to $2 tenths of a second for process $1 to end.
wait_gone() {
  local i
  for ((i = 0; i < $2; i++)); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.1
  done
  return 1
}

# Ends the tkphone (under timeout) with process ID $1 in order.
stop_phone() {
  local pid phone_children
  kill -0 "$1" 2>/dev/null || return 0
  phone_children=$(children_of "$1")
  for pid in $phone_children; do kill -TERM "$pid" 2>/dev/null; done
  if ! wait_gone "$1" 150; then
    for pid in $phone_children; do kill -KILL "$pid" 2>/dev/null; done
    kill -KILL "$1" 2>/dev/null
  fi
}

cleanup() {
  local pid
  # Further Ctrl-C or SIGTERM must not cut the clean-up short: it is what
  # ends the simulated exchange and removes the root folder.
  trap '' INT TERM HUP
  [ -n "$root" ] || return 0
  # tkphone closes its lines and stops the provider on SIGTERM. It gets the
  # signal alone: timeout would pass it on to its whole process group, the
  # link control process included, and the lines could then not be closed
  # in an orderly way.
  for pid in $phone_pid $monitor_pid; do stop_phone "$pid"; done
  # The telephony service ends in order on SIGTERM: the applications get
  # their replies, the provider closes its lines and stops.
  for pid in $(pids_of_root tapisrv); do
    kill -TERM "$pid" 2>/dev/null
    wait_gone "$pid" 150 || kill -KILL "$pid" 2>/dev/null
  done
  if [ -n "$tksim_pid" ] && kill -0 "$tksim_pid" 2>/dev/null; then
    kill -TERM "$tksim_pid" 2>/dev/null
    wait_gone "$tksim_pid" 50 || kill -KILL "$tksim_pid" 2>/dev/null
    wait "$tksim_pid" 2>/dev/null
  fi
  # A signal can come between tksim's start and the note of its process ID
  # (tksim ignores SIGINT as a background job of this script); it is found
  # by its root folder then.
  for pid in $(pids_of_root tksim); do
    kill -TERM "$pid" 2>/dev/null
    wait_gone "$pid" 50 || kill -KILL "$pid" 2>/dev/null
  done
  # The link control process ends by itself when the last client is gone;
  # one that is left over (after an interruption) is ended here.
  for pid in $(pids_of_root vnl2c64); do
    wait_gone "$pid" 30 || { kill -TERM "$pid" 2>/dev/null; wait_gone "$pid" 30 || kill -KILL "$pid" 2>/dev/null; }
  done
  [ -n "$root" ] && rm -rf "$root"
}
trap cleanup EXIT
# The first signal ends the demo through the clean-up; later ones are ignored
# from here on, so that a second Ctrl-C a moment later cannot leave tksim
# running or the root folder behind.
on_signal() {
  trap '' INT TERM HUP
  echo "demo: $1" >&2
  exit "$2"
}
trap 'on_signal interrupted 130' INT
trap 'on_signal terminated 143' TERM
trap 'on_signal "hung up" 129' HUP

root=$(mktemp -d "${TMPDIR:-/tmp}/tk-demo.XXXXXX") || exit 1
export TK_ROOT="$root"

echo "== TK telephony demo (root folder $root)"

# The simulated exchange on a free loopback port or on a new pseudo-terminal;
# its first line names the port ("listening A:P"), the terminal ("serial PATH")
# or the USB device ("usb PATH").
if [ "$link" = serial ]; then
  transport=(--serial --baud 115200)
elif [ "$link" = usb ]; then
  transport=(--usb 0)
else
  transport=(--port 0 --keepalive-ms 0)
fi
"$bin/tksim" "${transport[@]}" --engine vnl --exchange-config "$demo/exchange.conf" \
  --script "$demo/tksim.scenario" --no-stdin >"$root/tksim.log" 2>&1 &
tksim_pid=$!
where=""
for ((i = 0; i < 100; i++)); do
  line=$(head -n 1 "$root/tksim.log" 2>/dev/null)
  case "$line" in
    listening\ *) where=--port; port=${line##*:}; break ;;
    serial\ *) where=--serial; port=${line#serial }; break ;;
    usb\ *) where=--usb; port=0; break ;;
  esac
  kill -0 "$tksim_pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$where" ]; then
  echo "demo: tksim did not start:" >&2
  cat "$root/tksim.log" >&2
  exit 1
fi
if [ "$where" = --serial ]; then
  echo "== exchange: tksim on the serial line $port (115200 baud)"
elif [ "$where" = --usb ]; then
  echo "== exchange: tksim as the USB device \\\\.\\VNLUSB0 (${line#usb })"
else
  echo "== exchange: tksim listening on 127.0.0.1:$port"
fi

# The link configuration, the link control program, the provider in TAPI's
# provider list and the provider's lines.
"$bin/tksetup" "$where" "$port" --link-control "$bin/vnl2c64" --provider "$bin/kvarsp64.tsp" \
  --provider-config "$demo/provider.values" | sed 's/^/== setup: /' || exit 1

# The telephony service for this root: it loads the provider, and every
# tkphone below works through it.
"$bin/tapisrv" | sed 's/^/== /' || { cat "$root/run/tapisrv.log" >&2; exit 1; }

echo "== tkphone $demo/tkphone.script"
# In the background, so that an interruption reaches this script's traps at
# once; timeout gives it a process group of its own, which the terminal's
# Ctrl-C does not reach (the traps end it in order).
timeout -k 5 "$tkphone_limit" "$bin/tkphone" --service --script "$demo/tkphone.script" \
  > >(tee "$root/phone.log") 2>&1 &
phone_pid=$!

# A second application monitors both lines and prints every call it sees,
# with "monitor |" before each line. It opens them once the first has: the
# provider registers the lines at the exchange on the first open, and the
# exchange's outside call then rings at once, to be owned by the first.
for ((i = 0; i < 100; i++)); do
  grep -q "> open 1: OK" "$root/phone.log" 2>/dev/null && break
  kill -0 "$phone_pid" 2>/dev/null || break
  sleep 0.1
done
echo "== tkphone --monitor $demo/monitor.script"
timeout -k 5 "$tkphone_limit" "$bin/tkphone" --service --monitor --script "$demo/monitor.script" \
  > >(sed -u 's/^/monitor | /') 2>&1 &
monitor_pid=$!
wait "$phone_pid"
status=$?
phone_pid=""
case $status in
  0) echo "== tkphone: every step succeeded" ;;
  124) echo "demo: tkphone did not finish within $tkphone_limit s" >&2 ;;
  *) echo "demo: tkphone ended with exit status $status" >&2 ;;
esac
wait "$monitor_pid"
monitor_status=$?
monitor_pid=""
if [ "$monitor_status" -ne 0 ]; then
  echo "demo: the monitoring tkphone ended with exit status $monitor_status" >&2
  [ "$status" -eq 0 ] && status=$monitor_status
fi
"$bin/tapisrv" --stop | sed 's/^/== /'

echo "== what the exchange saw of the calls:"
grep -E '^(call |link |conference |script-failed|error )' "$root/tksim.log" | sed 's/^/   /'
exit $status

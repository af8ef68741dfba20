#!/usr/bin/env bash
# The real search, broadcast to 255.255.255.255:5000, between two network
# namespaces made for this test and joined by a veth pair that never touches
# the machine's own network: tksim --discovery answers in one namespace
# (10.21.0.1), gwProbe searches in the other (10.21.0.2) and must list it.
# Usage: discovery_netns_test.sh TKSIM PROBE
set -u
tksim=$1
probe=$2
tag="tkgw$$"
a="$tag-search"
b="$tag-pbx"
work=$(mktemp -d)

fail() {
  echo "discovery_netns_test: $*" >&2
  exit 1
}
cleanup() {
  [ -n "${sim_pid:-}" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  ip netns del "$a" 2>/dev/null
  ip netns del "$b" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

command -v ip >/dev/null || fail "the 'ip' program (iproute2) is missing: run scripts/install-deps.sh as root"
ip netns add "$a" 2>"$work/err" && ip netns add "$b" 2>>"$work/err" ||
  fail "cannot create network namespaces (needs root): $(cat "$work/err"); the search is never run on the real network"

# The pair is made inside namespace a with its peer straight in b.
ip -n "$a" link add veth-search type veth peer name veth-pbx netns "$b" || fail "cannot create the veth pair"
ip -n "$a" link set lo up && ip -n "$b" link set lo up || fail "cannot bring lo up"
ip -n "$a" addr add 10.21.0.2/24 dev veth-search && ip -n "$b" addr add 10.21.0.1/24 dev veth-pbx ||
  fail "cannot give the veth pair addresses"
ip -n "$a" link set veth-search up && ip -n "$b" link set veth-pbx up || fail "cannot bring the veth pair up"
ip -n "$a" route add default dev veth-search || fail "cannot route the broadcast to the veth pair"

export TK_ROOT="$work/root"
mkdir -p "$TK_ROOT"
ip netns exec "$b" "$tksim" --discovery --address 0.0.0.0 --allow-non-loopback --port 0 --no-stdin \
  >"$work/tksim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
  grep -q '^discovery ' "$work/tksim.out" && break
  kill -0 "$sim_pid" 2>/dev/null || fail "tksim ended: $(cat "$work/tksim.out")"
  sleep 0.1
done
grep -q '^discovery 0.0.0.0:5000$' "$work/tksim.out" || fail "tksim does not answer on port 5000: $(cat "$work/tksim.out")"

out=$(ip netns exec "$a" env -u TK_DISCOVERY_TARGET QT_QPA_PLATFORM=offscreen timeout 60 "$probe" veth-search \
  2>"$work/probe.err") || fail "the search failed: $out $(cat "$work/probe.err")"
echo "$out"
expected=$'listed 10.21.0.1\nstatus The following routers have been found ...\nresult 0 buffer 10.21.0.1'
[ "$out" = "$expected" ] || fail "expected:
$expected"
grep -q '^discovery-answer 10.21.0.2:5000$' "$work/tksim.out" || fail "tksim saw no broadcast request: $(cat "$work/tksim.out")"
echo "discovery_netns_test: ok"

#!/usr/bin/env bash
# The benchmarks of `make bench`, with their defaults, and one summary table
# at the end: vnl2_echo_bench (VNL2D32 block echo against a raw Unix-socket
# ping-pong) and call_bench (calls through the whole chain: set-up latency
# against the raw loopback TCP round trip, calls per second for 60 s, the
# same through the telephony service, idle CPU with keep-alive off and on).
# Each benchmark appends its figures to a summary file (--summary); the table
# shows them as: figure | measured | raw baseline of the same run | ratio |
# target | met. About 3 minutes on a 2-core machine, besides the build.
#
# usage: scripts/bench.sh [BUILD_DIR]     (default: build; configured already)
# Builds call_bench and vnl2_echo_bench there first (JOBS parallel jobs,
# default 2). Exit code 0 when every benchmark ran (whether or not the
# targets are met: see the table), 1 when one failed or the build failed,
# 2 usage.
set -u -o pipefail

here=$(cd "$(dirname "$0")" && pwd)
case "${1:-}" in
  --help | -h)
    sed -n '2,/^set -u/p' "$0" | sed -e '$d' -e 's/^# \{0,1\}//'
    exit 0 ;;
  -*) echo "bench: unknown option $1" >&2; echo "usage: scripts/bench.sh [BUILD_DIR]" >&2; exit 2 ;;
esac
if [ $# -gt 1 ]; then
  echo "bench: one build folder at most, not: $*" >&2
  echo "usage: scripts/bench.sh [BUILD_DIR]" >&2
  exit 2
fi
dir=${1:-$here/../build}
if [ ! -f "$dir/CMakeCache.txt" ]; then
  echo "bench: $dir is no configured build folder (run 'make configure' or cmake first)" >&2
  exit 1
fi
bin=$(cd "$dir" && pwd)/bin

echo "== building call_bench and vnl2_echo_bench in $dir"
if ! cmake --build "$dir" -j "${JOBS:-2}" --target call_bench vnl2_echo_bench; then
  echo "bench: the build in $dir failed" >&2
  exit 1
fi

summary=$(mktemp "${TMPDIR:-/tmp}/tk-bench-summary.XXXXXX") || { echo "bench: cannot make a temporary file" >&2; exit 1; }
trap 'rm -f "$summary"' EXIT

failed=()
run() {
  local name=$1
  shift
  echo
  echo "== $name $*"
  local started=$SECONDS
  "$bin/$name" "$@" --summary "$summary"
  local rc=$?
  echo "== $name: exit code $rc after $((SECONDS - started)) s"
  [ "$rc" -eq 0 ] || failed+=("$name (exit code $rc)")
}
run vnl2_echo_bench
run call_bench

echo
echo "== summary"
awk -F '\t' '
  BEGIN { head[1] = "figure"; head[2] = "measured"; head[3] = "raw baseline of the same run"
          head[4] = "ratio"; head[5] = "target"; head[6] = "met"
          for (c = 1; c <= 6; ++c) { cell[0, c] = head[c]; width[c] = length(head[c]) } }
  NF == 6 { ++rows; for (c = 1; c <= 6; ++c) { cell[rows, c] = $c; if (length($c) > width[c]) width[c] = length($c) }
            if ($6 == "NOT MET") ++missed; if ($6 == "met") ++met }
  END {
    for (r = 0; r <= rows; ++r) {
      line = ""
      for (c = 1; c <= 6; ++c) line = line (c < 6 ? sprintf("%-" width[c] "s | ", cell[r, c]) : cell[r, c])
      print line
      if (r == 0) { rule = ""; for (c = 1; c <= 6; ++c) { s = sprintf("%" width[c] "s", ""); gsub(/ /, "-", s); rule = rule s (c < 6 ? "-|-" : "") }; print rule }
    }
    printf "\n%d targets met, %d NOT MET\n", met, missed
  }' "$summary"

if [ ${#failed[@]} -gt 0 ]; then
  echo "bench: failed: ${failed[*]} (the table shows what they measured before that)" >&2
  exit 1
fi
exit 0

#!/bin/sh
# A short run of the fault soak: it must pass, and its table must add up.
# usage: soak_smoke.sh SOAK-PROGRAM [SOAK OPTIONS...]
soak=$1
shift
out=$(mktemp "${TMPDIR:-/tmp}/soak-smoke.XXXXXX") || exit 1
trap 'rm -f "$out"' EXIT
"$soak" "$@" >"$out"
code=$?
cat "$out"
if [ "$code" -ne 0 ]; then
  echo "soak_smoke: soak exited with $code" >&2
  exit 1
fi
# The total column of a row of the table.
total() { awk -v name="$1" 'index($0, name " ") == 1 && substr($0, length(name) + 1) ~ /^ +[0-9]/ { print $NF }' "$out"; }
fail=0
check() {
  if [ "$2" != "$3" ]; then
    echo "soak_smoke: $1: $2 != $3" >&2
    fail=1
  fi
}
calls=$(total "calls")
check "calls made" "$calls" "$(awk '/^soak: / { print $2 }' "$out")"
check "connected and idle + failed = calls" "$(($(total "calls connected and idle") + $(total "calls failed")))" "$calls"
check "requests completed exactly once" "$(total "completed exactly once")" "$(total "requests")"
check "completed more than once" "$(total "completed more than once")" 0
check "never completed" "$(total "never completed")" 0
check "lines opened again = lines lost" "$(total "lines opened again")" "$(total "lines lost (LINE_CLOSE)")"
check "violations" "$(awk '/^violations: / { print $2 }' "$out")" 0
exit $fail

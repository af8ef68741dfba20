#!/usr/bin/env bash
# The checks of `make check`, for a release and before an issue is closed:
#   1. every test under AddressSanitizer + UBSan (build-asan/),
#   2. every test under ThreadSanitizer (build-tsan/),
#   3. every fuzzer on its seed corpus for FUZZ_SECONDS each (default 300),
#      built in the normal build folder (build/).
# Every stage runs even when an earlier one failed; a summary table at the
# end names each stage, its time and its result. A fuzzer's finding is kept
# in build/tests/fuzz/check-runs/ with the input that caused it.
# Takes about an hour and a quarter on a 2-core machine (the two sanitizer
# builds are most of it; rebuilds are quicker). Not part of `make test`.
#
# usage: scripts/check.sh [--only asan|tsan|fuzz]...
# Environment: JOBS (parallel build jobs and fuzzers, default nproc),
# TEST_JOBS (parallel tests, default 2*JOBS), FUZZ_SECONDS (default 300).
# Exit code 0 when every stage passed, 1 when one failed, 2 usage.
set -u -o pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
usage() { echo "usage: scripts/check.sh [--only asan|tsan|fuzz]..." >&2; }

stages=()
while [ $# -gt 0 ]; do
  case "$1" in
    --help | -h)
      sed -n '2,/^set -u/p' "$0" | sed -e '$d' -e 's/^# \{0,1\}//'
      exit 0 ;;
    --only)
      case "${2:-}" in
        asan | tsan | fuzz) stages+=("$2"); shift 2 ;;
        *) echo "check: --only takes asan, tsan or fuzz, not '${2:-}'" >&2; usage; exit 2 ;;
      esac ;;
    *) echo "check: unknown option $1" >&2; usage; exit 2 ;;
  esac
done
[ ${#stages[@]} -eq 0 ] && stages=(asan tsan fuzz)

jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
test_jobs=${TEST_JOBS:-$((jobs * 2))}
fuzz_seconds=${FUZZ_SECONDS:-300}
case "$fuzz_seconds" in
  '' | *[!0-9]*) echo "check: FUZZ_SECONDS must be a whole number of seconds, not '$fuzz_seconds'" >&2; exit 2 ;;
esac

cd "$root"
summary=()
failed=0

# run_stage NAME COMMAND...: runs the command, records its time and result.
run_stage() {
  local name=$1
  shift
  local started=$SECONDS
  echo "== $name"
  if "$@"; then
    summary+=("$(printf '%-28s %6ss  passed' "$name" $((SECONDS - started)))")
  else
    summary+=("$(printf '%-28s %6ss  FAILED' "$name" $((SECONDS - started)))")
    failed=1
  fi
}

sanitizer_tests() {
  local preset=$1
  cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j "$jobs" &&
    ctest --preset "$preset" -j "$test_jobs" --timeout 600
}

# Runs every fuzzer of build/bin for fuzz_seconds on a copy of its seeds
# (tests/fuzz/corpus/<name without _fuzz>), jobs at a time.
fuzzers() {
  cmake --preset default -DTK_FUZZ=ON >/dev/null || return 1
  local names
  names=$(cd tests/fuzz && ls ./*_fuzz.cpp | sed -e 's|^\./||' -e 's|\.cpp$||')
  # shellcheck disable=SC2086
  cmake --build --preset default -j "$jobs" --target $names || return 1
  local runs=build/tests/fuzz/check-runs
  mkdir -p "$runs"
  local name status=0
  for name in $names; do
    if [ ! -x "build/bin/$name" ]; then
      echo "check: build/bin/$name was not built (is clang++ installed? scripts/install-deps.sh)" >&2
      return 1
    fi
  done
  echo "$names" | tr ' ' '\n' | xargs -P "$jobs" -n 1 sh -c '
    runs=$1 seconds=$2 name=$3
    if sh tests/fuzz/run_fuzzer.sh "build/bin/$name" "tests/fuzz/corpus/${name%_fuzz}" "$runs" "$seconds" \
        >"$runs/$name.log" 2>&1; then
      echo "   $name: no finding in $(grep -o "number_of_executed_units: *[0-9]*" "$runs/$name.log" | grep -o "[0-9]*$") runs"
    else
      echo "   $name: FINDING, see $runs/$name.log"
      exit 1
    fi' sh "$runs" "$fuzz_seconds" || status=1
  return $status
}

for stage in "${stages[@]}"; do
  case "$stage" in
    asan) run_stage "tests, ASan + UBSan" sanitizer_tests asan ;;
    tsan) run_stage "tests, TSan" sanitizer_tests tsan ;;
    fuzz) run_stage "fuzzers, ${fuzz_seconds} s each" fuzzers ;;
  esac
done

echo
echo "== make check"
printf '%s\n' "${summary[@]}"
exit $failed

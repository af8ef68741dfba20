#!/bin/sh
# Runs a libFuzzer binary for a bounded time on a private copy of its seed
# corpus, in a fresh folder below work_root, so that several runs can go on at
# once and the seeds in the source tree stay untouched. A finding (crash,
# leak, time-out, undefined behaviour) makes the fuzzer exit non-zero; its
# folder is then kept with the failing input in it.
#   run_fuzzer.sh FUZZER SEED_DIR WORK_ROOT SECONDS
set -eu
fuzzer=$1
seeds=$2
work_root=$3
seconds=$4

mkdir -p "$work_root"
work=$(mktemp -d "$work_root/run.XXXXXX")
mkdir "$work/corpus"
cp "$seeds"/* "$work/corpus/"

status=0
"$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=16384 \
  -artifact_prefix="$work/" -print_final_stats=1 "$work/corpus" || status=$?

if [ "$status" -eq 0 ]; then
  rm -rf "$work"
else
  echo "run_fuzzer: finding (exit $status); input and corpus kept in $work" >&2
fi
exit "$status"

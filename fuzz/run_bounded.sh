#!/bin/sh
# Runs one libFuzzer target for a bounded time and fails on any finding
# (crash, sanitizer report, leak, timeout, memory limit).
#   run_bounded.sh FUZZER SEED_CORPUS WORK_DIR SECONDS
# New inputs go to WORK_DIR, so the checked-in seed corpus grows only by
# hand. A dictionary FUZZER_NAME.dict beside the corpus directory is used
# when present. Reproduce a finding with: FUZZER WORK_DIR/crash-...
# An input that takes a minute is a hang: one takes milliseconds, and a busy
# machine makes that many times longer, never a minute.
set -eu
fuzzer=$1 corpus=$2 work=$3 seconds=$4

rm -rf "$work"
mkdir -p "$work/new"
dict="$(dirname "$corpus")/../$(basename "$corpus").dict"
set -- -max_total_time="$seconds" -timeout=60 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$work/"
if [ -f "$dict" ]; then
  set -- "$@" -dict="$dict"
fi
exec "$fuzzer" "$@" "$work/new" "$corpus"

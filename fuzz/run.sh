#!/bin/sh
# Runs the fuzzer for a bounded time, starting from the corpus kept in the
# repository, which it only reads: new inputs go to a scratch directory. Prints
# libFuzzer's final figures; on a finding, the end of its report, and the
# input that caused it stays in the current directory (crash-*, leak-*, ...).
# Usage: run.sh FUZZER CORPUS SECONDS
set -eu
fuzzer=$1
corpus=$2
seconds=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/videz5-fuzz-corpus-XXXXXX")
trap 'rm -rf "$work"' EXIT
if "$fuzzer" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 "$work" "$corpus" \
     >"$work/log" 2>&1; then
  grep -E '^(INFO: seed corpus|Done [0-9]+ runs|stat::)' "$work/log"
else
  tail -n 100 "$work/log"
  exit 1
fi

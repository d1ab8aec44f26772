#!/usr/bin/env bash
# Runs every fuzzer (build-fuzz/tests/fuzz/fuzz_NAME) for the given number of seconds (default
# 30) over its corpus in tests/fuzz/corpus/NAME; new inputs it finds go to a temporary folder.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-30}
shopt -s nullglob
for fuzzer in "$root"/build-fuzz/tests/fuzz/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  corpus="$root/tests/fuzz/corpus/${name#fuzz_}"
  work=$(mktemp -d)
  echo "fuzz: $name for ${seconds}s"
  "$fuzzer" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=0 \
    "$work" "$corpus" 2>"$work.log" || { tail -50 "$work.log"; rm -rf "$work"; exit 1; }
  rm -rf "$work" "$work.log"
done

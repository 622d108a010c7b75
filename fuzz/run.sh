#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang into build/fuzz and runs each for
# a number of seconds (first argument, default 10) over its seed corpus in
# fuzz/corpus/<harness>/.  Prints the inputs tried and the crashes per
# harness; exits non-zero when any harness crashed.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-10}"
build=build/fuzz
CXX=clang++ CC=clang cmake -S fuzz -B "$build" -DCMAKE_BUILD_TYPE=Debug >/dev/null || exit 1
cmake --build "$build" -j2 >/dev/null || { cmake --build "$build" -j1; exit 1; }
failed=0
for bin in "$build"/fuzz_*; do
  [ -x "$bin" ] || continue
  name=$(basename "$bin")
  corpus="fuzz/corpus/${name#fuzz_}"
  work="$build/work/$name"
  mkdir -p "$corpus" "$work/corpus" "$work/crashes"
  log="$work/log.txt"
  "$bin" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$work/crashes/" \
    "$work/corpus" "$corpus" >"$log" 2>&1
  rc=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  crashes=$(find "$work/crashes" -type f | wc -l)
  echo "fuzz ${name#fuzz_}: ${runs:-0} inputs, $crashes crashes"
  if [ "$rc" -ne 0 ] || [ "$crashes" -ne 0 ]; then
    failed=1
    tail -30 "$log"
  fi
done
exit "$failed"

#!/usr/bin/env bash
# Runs every fuzz target as a real libFuzzer program for a while, with the
# libraries under test instrumented for coverage, AddressSanitizer and UBSan.
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-30}
build=${2:-$here/build-fuzz}
CXX=clang++ cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLET_BUILD_FUZZERS=ON \
  -DQUILLET_BUILD_GUI=OFF -DQUILLET_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
for fuzzer in "$build"/fuzz/quillet_fuzz_*; do
  corpus=$(mktemp -d)
  echo "== $(basename "$fuzzer") for ${seconds} s"
  status=0
  (cd "$corpus" && "$fuzzer" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 "$corpus" \
    >"$corpus.log" 2>&1) || status=$?
  grep -E "^(Done|stat::number_of_executed_units)" "$corpus.log" || true
  if [ "$status" -ne 0 ]; then
    tail -40 "$corpus.log"
    echo "$(basename "$fuzzer") failed (the input is in $corpus)"
    exit 1
  fi
  rm -rf "$corpus" "$corpus.log"
done

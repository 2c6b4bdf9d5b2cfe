#!/usr/bin/env bash
# Runs every fuzz target as a real libFuzzer program for a while, with the
# libraries under test instrumented for coverage, AddressSanitizer and UBSan.
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [BUILD_DIR]
# QUILLET_FUZZ_SEED picks the random seed (default 1, so that a run here can be
# repeated; 0 lets libFuzzer choose one). A failing input is to be kept in
# fuzz/regressions/<target>/ under a name that says what it found.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-30}
build=${2:-$here/build-fuzz}
CXX=clang++ cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLET_BUILD_FUZZERS=ON \
  -DQUILLET_BUILD_GUI=OFF -DQUILLET_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
for fuzzer in "$build"/fuzz/quillet_fuzz_*; do
  corpus=$(mktemp -d)
  target=${fuzzer##*/quillet_fuzz_}
  if [ -d "$here/fuzz/regressions/$target" ]; then cp "$here/fuzz/regressions/$target"/* "$corpus"/; fi
  echo "== $(basename "$fuzzer") for ${seconds} s"
  status=0
  (cd "$corpus" && "$fuzzer" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
    -seed="${QUILLET_FUZZ_SEED:-1}" "$corpus" \
    >"$corpus.log" 2>&1) || status=$?
  grep -E "^(Done|stat::number_of_executed_units)" "$corpus.log" || true
  if [ "$status" -ne 0 ]; then
    tail -40 "$corpus.log"
    echo "$(basename "$fuzzer") failed (the input is in $corpus)"
    exit 1
  fi
  rm -rf "$corpus" "$corpus.log"
done

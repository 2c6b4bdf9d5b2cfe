#!/usr/bin/env bash
# The test suites once more under sanitizers: every suite but the window's
# with AddressSanitizer and UBSan, then the engine and command-line suites
# (where the threads are) with ThreadSanitizer. Builds go beside the main one.
#   scripts/sanitizers.sh [BUILD_DIR_PREFIX]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
prefix=${1:-$here/build}
jobs=$(nproc)

configure_and_build() { # dir sanitize targets...
  local dir=$1 sanitize=$2
  shift 2
  cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLET_BUILD_GUI=OFF \
    -DQUILLET_SANITIZE="$sanitize" >/dev/null
  cmake --build "$dir" -j "$jobs" --target "$@"
}

echo "== AddressSanitizer and UBSan"
configure_and_build "$prefix-asan" ON all
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir "$prefix-asan" --output-on-failure -j "$jobs" -E "unprivileged_permission_tests|Slow"

echo "== ThreadSanitizer (engine and command line)"
configure_and_build "$prefix-tsan" thread quillet_engine_tests quillet_cli_tests quillet-cli
# ThreadSanitizer cannot map its shadow memory with the kernel's widest
# address randomisation; run without it.
run=()
command -v setarch >/dev/null && setarch "$(uname -m)" -R true 2>/dev/null && run=(setarch "$(uname -m)" -R)
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
for suite in engine cli; do
  (cd "$prefix-tsan/tests/$suite" && QUILLET_CLI="$prefix-tsan/src/cli/quillet-cli" \
    "${run[@]}" ./quillet_${suite}_tests --gtest_brief=1 --gtest_filter=-*Slow*)
done

#!/usr/bin/env bash
# Sets up (scripts/setup.sh), checks the formatting, and runs every test:
# the suites, then clang-tidy over src/ (scripts/clang-tidy.sh), the suites
# again under sanitizers (scripts/sanitizers.sh) and every fuzz target for
# 30 s (scripts/fuzz.sh). QUILLET_QUICK=1 stops after the first pass.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$here/build}
"$here/scripts/setup.sh" "$build"
# The house style (.clang-format) holds for every C++ file.
if git -C "$here" rev-parse --git-dir >/dev/null 2>&1; then
  git -C "$here" ls-files -z '*.cpp' '*.h' | (cd "$here" && xargs -0 clang-format --dry-run --Werror)
fi
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
chmod 700 "$XDG_RUNTIME_DIR"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
[ "${QUILLET_QUICK:-0}" = 1 ] && exit 0
"$here/scripts/clang-tidy.sh" "$build"
"$here/scripts/sanitizers.sh" "$build"
"$here/scripts/fuzz.sh" "${QUILLET_FUZZ_SECONDS:-30}" "$build-fuzz"

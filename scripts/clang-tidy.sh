#!/usr/bin/env bash
# Runs clang-tidy (the checks of .clang-tidy) over every source file in src/,
# with the compile commands of a configured and built tree (the window's
# generated headers must exist), on all processors. Fails on any finding but
# those listed in scripts/clang-tidy-known.txt, and prints how long it took.
#   scripts/clang-tidy.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$here/build}
start=$SECONDS
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# The compile commands are GCC's: clang does not know all of its warning
# options, and need not say so once per file.
run-clang-tidy -p "$build" -quiet -j "$(nproc)" -extra-arg=-Wno-unknown-warning-option "^$here/src/" \
  >"$log" 2>&1 || true
# One line per finding: "src/path.cpp:LINE:COL: error: text [check,...]".
findings=$(sed 's/\x1b\[[0-9;]*m//g' "$log" | grep -E '^/.*:[0-9]+:[0-9]+: (warning|error): ' |
  sed "s|^$here/||" | sort -u || true)
known=$(grep -vE '^(#|$)' "$here/scripts/clang-tidy-known.txt" || true)
new=""
while IFS= read -r line; do
  [ -n "$line" ] || continue
  file=${line%%:*}
  check=$(sed -E 's/.*\[([^],]+)[],].*/\1/' <<<"$line")
  grep -qxF "$file $check" <<<"$known" || new+="$line"$'\n'
done <<<"$findings"
total=$(grep -c . <<<"$findings" || true)
fresh=$(grep -c . <<<"$new" || true)
echo "clang-tidy: $total finding(s), $((total - fresh)) of them known (scripts/clang-tidy-known.txt); $((SECONDS - start)) s"
if [ -n "$new" ]; then
  printf '%s' "$new"
  echo "clang-tidy: fix these, or say on the line why the code is right (NOLINT(check): reason)"
  exit 1
fi

#!/usr/bin/env bash
# Side-by-side timing of quillet-cli against grep, ripgrep, sed and sd, with
# the shared harness (../shared/bench beside this repository, or BENCH_HARNESS),
# then the rows of bench/extra_rows.sh (star patterns on the HTML tree and a
# worst case of long near matches), then those of bench/real_rows.sh (a tree
# of six Git releases, built once by bench/real_tree.sh in CORPUS_ROOT/real).
# Builds a Release quillet-cli first.
# Usage: bench/compare.sh [CORPUS_ROOT]
# Environment is passed on to the harness (REPS, CORPORA, QUILLET_ARGS, ...);
# EXTRA_ROWS=0 skips the extra rows, REAL_ROWS=0 the real tree's; REAL_TREE_GIT
# names a local copy of the Git repository where github.com cannot be reached;
# WARM_MEMORY=0 skips touching the free memory first (bench/warm_memory.sh).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
harness=${BENCH_HARNESS:-$here/../shared/bench}
root=${1:-/tmp/qbench}
build=${BENCH_BUILD_DIR:-$here/build-release}
[ -x "$harness/run_bench.sh" ] || {
  echo "compare: no harness in $harness (it lives in ../shared/bench beside the repository; set BENCH_HARNESS)" >&2
  exit 2
}
command -v rg >/dev/null && command -v sd >/dev/null && command -v hyperfine >/dev/null || {
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get install -y -qq ripgrep sd hyperfine rsync >/dev/null
}
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLET_BUILD_GUI=OFF -DQUILLET_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target quillet-cli
[ -f "$root/MANIFEST.env" ] || "$harness/make_corpus.sh" "$root"
[ "${WARM_MEMORY:-1}" = 0 ] || "$here/bench/warm_memory.sh"
QUILLET_CLI="$build/src/cli/quillet-cli" "$harness/run_bench.sh" "$root"
[ "${EXTRA_ROWS:-1}" = 0 ] || QUILLET_CLI="$build/src/cli/quillet-cli" "$here/bench/extra_rows.sh" "$root"
if [ "${REAL_ROWS:-1}" != 0 ]; then
  if "$here/bench/real_tree.sh" "$root/real"; then
    QUILLET_CLI="$build/src/cli/quillet-cli" "$here/bench/real_rows.sh" "$root/real"
  else
    echo "compare: real-tree rows skipped: no tree (REAL_TREE_GIT=a local copy of git/git builds it; REAL_ROWS=0 skips them)" >&2
  fi
fi

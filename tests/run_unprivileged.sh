#!/usr/bin/env bash
# Runs the test programs that check permissions once more as an unprivileged
# user: as root (as CI runs) those checks are skipped, since root may read and
# write anything. Exits 77 (skipped) when not root or when setpriv is missing.
#   run_unprivileged.sh BUILD_DIR
set -euo pipefail
build=$1
[ "$(id -u)" -eq 0 ] || { echo "not root: the permission tests already ran"; exit 77; }
command -v setpriv >/dev/null || { echo "setpriv missing"; exit 77; }

# The build directory may sit where another user cannot reach it: copy the
# programs to a place of their own.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
cp "$build/src/cli/quillet-cli" "$build/tests/engine/quillet_engine_tests" \
   "$build/tests/finder/quillet_finder_tests" "$build/tests/cli/quillet_cli_tests" "$work/"
mkdir -m 1777 "$work/tmp"

status=0
unprivileged() {
  (cd "$work/tmp" && env -i PATH=/usr/bin:/bin LC_ALL=C TMPDIR="$work/tmp" QUILLET_CLI="$work/quillet-cli" \
     XDG_STATE_HOME="$work/tmp/state" QT_QPA_PLATFORM=offscreen \
     setpriv --reuid=65534 --regid=65534 --clear-groups "$@") || status=1
}
for program in quillet_finder_tests quillet_engine_tests quillet_cli_tests; do
  echo "== $program as user 65534"
  unprivileged "$work/$program" --gtest_brief=1
done
# The window's test of a walk over a folder it cannot read, where the window is built.
if [ -x "$build/tests/gui/quillet_gui_tests" ]; then
  cp "$build/tests/gui/quillet_gui_tests" "$work/"
  echo "== quillet_gui_tests (unreadable folder) as user 65534"
  unprivileged "$work/quillet_gui_tests" walkNamesTheFoldersItCouldNotRead
fi
exit $status

#!/usr/bin/env bash
# Sets up (scripts/setup.sh) and starts the Quillet window; without a display
# (or without the window) it prints quillet-cli's help instead.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$here/build}
"$here/scripts/setup.sh" "$build"
if [ -x "$build/src/gui/quillet" ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
  exec "$build/src/gui/quillet" "$@"
fi
[ -x "$build/src/gui/quillet" ] && echo "run: no display found (DISPLAY is unset); showing the command line instead" >&2
exec "$build/src/cli/quillet-cli" --help

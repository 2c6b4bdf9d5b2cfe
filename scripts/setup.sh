#!/usr/bin/env bash
# Installs what building and testing Quillet needs on Debian 12 (as root, or
# through sudo), configures and builds. Usage: scripts/setup.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$here/build}

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev fonts-dejavu-core fonts-dejavu-extra
  xvfb xauth xdotool x11-utils imagemagick
  dpkg-dev file clang-format clang-tidy clang libclang-rt-14-dev
  unicode-data libutf8proc-dev
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "setup: installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Configure's messages stay visible: they say what is left out (no Qt 6, no
# Qt Test, no dpkg-shlibdeps) and why.
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j "$(nproc)"

#!/usr/bin/env bash
# Installs every build and test dependency from Debian 12 packages. Safe to run again.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
PKGS=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools libqt6serialport6-dev qt6-tools-dev-tools
  libgl-dev libxkbcommon-dev
  fonts-wqy-zenhei
  xvfb xauth xdotool x11-apps imagemagick
  clang-14 libclang-rt-14-dev llvm-14
  valgrind util-linux
)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

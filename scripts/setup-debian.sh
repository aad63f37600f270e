#!/usr/bin/env bash
# Installs what the build and the tests use, from Debian 12 packages. Safe to run again.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
PKGS=(
  # building
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-svg-dev libxkbcommon-dev libx11-dev
  # Qt's own dialogs and buttons in Chinese; the English of ours made from its .ts
  qt6-translations-l10n qt6-l10n-tools qt6-tools-dev
  # the test suites: GoogleTest, a CJK font for the dialogs' texts (and the record's PDF, read
  # back with poppler's tools), an X server and input for the real programs, clang's libFuzzer
  # and sanitizers (with the symbolizer for their reports)
  libgtest-dev libgmock-dev
  # km27ctl's tests: its JSON read back, its manual page rendered, a run as another user
  nlohmann-json3-dev groff-base util-linux
  # the network ports' tests: a real terminal server on loopback
  ser2net
  fonts-wqy-zenhei poppler-utils
  xvfb xdotool
  clang-14 libclang-rt-14-dev llvm-14
  # the Debian package and its check: dependencies from the binaries, the menu entry and the
  # AppStream data validated, the icons' sizes read
  dpkg-dev desktop-file-utils appstream file
  # the Windows zip of km27ctl, made and listed
  zip unzip
  # km27ctl and the core for 64-bit Windows, their tests run under wine
  g++-mingw-w64-x86-64-posix wine64 wine
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

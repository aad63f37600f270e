#!/usr/bin/env bash
# Builds the Debian package of the three programs, their menu entry, icons, AppStream data and
# manual pages: build/km27param_<version>_<arch>.deb (or in $KM27_BUILD_DIR).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KM27_BUILD_DIR:-$here/build}
"$here/scripts/setup-debian.sh"
cmake -S "$here" -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j "$(nproc)" --target km27param km27ctl km27sim km27_man_pages
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/km27param_*.deb

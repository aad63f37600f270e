#!/usr/bin/env bash
# Builds the Debian package of the three programs, their menu entry, icons, AppStream data and
# manual pages: build/km27param_<version>_<arch>.deb (or in $KM27_BUILD_DIR); and beside it
# km27ctl-<version>-win64.zip: km27ctl.exe, cross-built for 64-bit Windows in build-win (or
# $KM27_WIN_BUILD_DIR, which the Windows test stage then uses), with the README's km27ctl
# section as README-km27ctl.txt. KM27_WIN_EXE names a km27ctl.exe already built instead.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KM27_BUILD_DIR:-$here/build}
winbuild=${KM27_WIN_BUILD_DIR:-$here/build-win}
"$here/scripts/setup-debian.sh"
cmake -S "$here" -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j "$(nproc)" --target km27param km27ctl km27sim km27_man_pages
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/km27param_*.deb

version=$(sed -n 's/^project(km27param VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")
exe=${KM27_WIN_EXE:-}
if [ -z "$exe" ]; then
  cmake -S "$here" -B "$winbuild" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64.cmake" >/dev/null
  cmake --build "$winbuild" -j "$(nproc)" --target km27ctl
  exe=$winbuild/km27ctl.exe
fi
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$exe" "$stage/km27ctl.exe"
# Notepad wants CRLF line ends.
sed -n '/^## km27ctl /,/^## /p' "$here/README.md" | sed '$d' | sed 's/$/\r/' >"$stage/README-km27ctl.txt"
[ -s "$stage/README-km27ctl.txt" ] || { echo "package: no km27ctl section in README.md" >&2; exit 1; }
zip="$build/km27ctl-$version-win64.zip"
rm -f "$zip"
(cd "$stage" && zip -q -X "$zip" km27ctl.exe README-km27ctl.txt)
ls "$zip"

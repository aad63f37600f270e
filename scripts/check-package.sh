#!/usr/bin/env bash
# Checks the Debian package as an operator's machine would get it, without installing it here:
# makes it (scripts/package.sh), unpacks it into a scratch root, validates the menu entry and the
# AppStream data there, runs the installed programs' --version, renders the manual pages, and
# holds the package's files and dependencies to what it must contain; lists the Windows zip.
#   scripts/check-package.sh [build dir]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-${KM27_BUILD_DIR:-$here/build}}
KM27_BUILD_DIR=$build "$here/scripts/package.sh" >/dev/null
version=$(sed -n 's/^project(km27param VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")
deb=$(ls "$build"/km27param_"$version"_*.deb)
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
fail() { echo "package check: $*" >&2; exit 1; }

id=org.km27.km27param
expected="usr/bin/km27ctl
usr/bin/km27param
usr/bin/km27sim
usr/share/applications/$id.desktop
usr/share/doc/km27param/README.Debian
usr/share/doc/km27param/copyright
usr/share/icons/hicolor/128x128/apps/$id.png
usr/share/icons/hicolor/16x16/apps/$id.png
usr/share/icons/hicolor/22x22/apps/$id.png
usr/share/icons/hicolor/24x24/apps/$id.png
usr/share/icons/hicolor/256x256/apps/$id.png
usr/share/icons/hicolor/32x32/apps/$id.png
usr/share/icons/hicolor/48x48/apps/$id.png
usr/share/icons/hicolor/64x64/apps/$id.png
usr/share/icons/hicolor/scalable/apps/$id.svg
usr/share/man/man1/km27ctl.1.gz
usr/share/man/man1/km27param.1.gz
usr/share/man/zh_CN/man1/km27ctl.1.gz
usr/share/man/zh_CN/man1/km27param.1.gz
usr/share/metainfo/$id.metainfo.xml"
actual=$(cd "$root" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
[ "$actual" = "$(echo "$expected" | LC_ALL=C sort)" ] ||
  fail "files differ from what the package must hold:
$(diff <(echo "$expected" | LC_ALL=C sort) <(echo "$actual") || true)"

desktop-file-validate "$root/usr/share/applications/$id.desktop" || fail "the menu entry does not validate"
grep -q '^Exec=km27param --desktop$' "$root/usr/share/applications/$id.desktop" || fail "the menu entry's Exec line"
appstreamcli validate --no-net --pedantic "$root/usr/share/metainfo/$id.metainfo.xml" >/dev/null ||
  { appstreamcli validate --no-net "$root/usr/share/metainfo/$id.metainfo.xml"; fail "the AppStream data does not validate"; }
for size in 16 22 24 32 48 64 128 256; do
  file "$root/usr/share/icons/hicolor/${size}x${size}/apps/$id.png" | grep -q "$size x $size" || fail "icon ${size}x${size}"
done

[ "$("$root/usr/bin/km27ctl" --version)" = "km27ctl $version" ] || fail "km27ctl --version"
[ "$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/km27param" --version)" = "km27param $version" ] || fail "km27param --version"
for page in man1/km27param man1/km27ctl zh_CN/man1/km27param zh_CN/man1/km27ctl; do
  # -k: the Chinese pages are UTF-8, which man passes through preconv too.
  warnings=$(zcat "$root/usr/share/man/$page.1.gz" | groff -k -man -Tutf8 -ww 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page.1: $warnings"
done

depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6gui6 libqt6core6 libstdc++6 qt6-qpa-plugins; do
  echo "$depends" | grep -q "$lib" || fail "Depends lacks $lib: $depends"
done
zip="$build/km27ctl-$version-win64.zip"
[ "$(unzip -Z1 "$zip" | LC_ALL=C sort | tr '\n' ' ')" = "README-km27ctl.txt km27ctl.exe " ] ||
  fail "$(basename "$zip") must hold km27ctl.exe and README-km27ctl.txt: $(unzip -Z1 "$zip" | tr '\n' ' ')"
echo "package check passed: $(basename "$deb"), $(echo "$actual" | wc -l) files; Depends: $depends; $(basename "$zip")"

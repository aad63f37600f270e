#!/usr/bin/env bash
# Starts the real program under a virtual X server, picks the code box, adds a few entries
# and stores screenshots: tools/screenshots.sh [output dir (build/screenshots)] [build dir (build)]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
# What this tool needs beyond the build: an X server, input, and screen capture.
need=()
for p in xvfb xdotool x11-utils imagemagick; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if [ "${#need[@]}" -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
build=$(cd "${2:-${KM27_BUILD_DIR:-$here/build}}" && pwd)
out=$(mkdir -p "${1:-$build/screenshots}" && cd "${1:-$build/screenshots}" && pwd)
work=$(mktemp -d)
n=${KM27_DISPLAY:-99}
while [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done  # another X server may hold :99
display=:$n

Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $prog $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

cd "$work"
"$build/km27param" &
prog=$!
win() { for _ in $(seq 100); do id=$(xdotool search --name "^$1\$" 2>/dev/null | head -1) && [ -n "$id" ] && { echo "$id"; return; }; sleep 0.1; done; return 1; }

sel=$(win "下位机选择")
sleep 0.5
import -window root "$out/1-device-select.png"
xdotool windowfocus --sync "$sel" 2>/dev/null || true
xdotool mousemove --window "$sel" 95 97 click 1   # the code box radio
sleep 0.2
import -window root "$out/1b-device-select-code-box.png"
xdotool key Return
main=$(win "参数设置工具")
sleep 0.8
import -window root "$out/2-main-empty.png"
xdotool windowfocus --sync "$main" 2>/dev/null || true
for k in F2 F2 F2; do xdotool key "$k"; sleep 0.1; done
sleep 0.3
import -window root "$out/3-main-three-entries.png"
xdotool mousemove --window "$main" 568 89 click 1   # row 2 of the grid
xdotool mousemove --window "$main" 400 560          # off the grid, so no hover shows
sleep 0.3
import -window root "$out/3b-main-row-two-clicked.png"
xdotool mousemove --window "$main" 20 640 click 3   # the window menu
sleep 0.4
import -window root "$out/4-window-menu.png"
xdotool key a
about=$(win "关于 KM27A")
sleep 0.4
import -window root "$out/5-about.png"
xdotool key Escape
sleep 0.3
xdotool windowfocus --sync "$main" 2>/dev/null || true
xdotool key F1
help=$(win "KM27A - 记事本")
sleep 0.5
import -window root "$out/6-help.png"
xdotool windowunmap "$help" 2>/dev/null || true
xdotool windowfocus --sync "$main" 2>/dev/null || true
xdotool key F9
wait $prog || true
ls -l "$out"

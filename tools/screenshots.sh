#!/usr/bin/env bash
# Starts the real program under a virtual X server, picks the code box, adds a few entries
# and stores screenshots; then starts it again on a full programme (every carrier has steps)
# for the overview window, the record exported as PDF through the menu and the file chooser
# (its first page rendered), and the Clear question with Qt's own Chinese buttons:
#   tools/screenshots.sh [output dir (build/screenshots)] [build dir (build)]
# KM27_SHOT_LANG=en takes them in English (the window is started with --lang en).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
# What this tool needs beyond the build: an X server, input, and screen capture.
need=()
for p in xvfb xdotool x11-utils imagemagick poppler-utils; do
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

Xvfb "$display" -noreset -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $prog $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

lang=${KM27_SHOT_LANG:-zh}
# The windows are found by their titles, which follow the language.
title() {
  [ "$lang" = en ] || { echo "$1"; return; }
  case $1 in
    下位机选择) echo "Choose the device" ;;
    参数设置工具) echo "Parameter Setting Tool" ;;
    "关于 KM27A") echo "About KM27A" ;;
    "KM27A - 记事本") echo "KM27A - Help" ;;
    程序总览) echo "Programme overview" ;;
    导出PDF) echo "Export PDF" ;;
  esac
}

cd "$work"
# The program's own settings (recent files) stay in the scratch directory.
export HOME=$work
"$build/km27param" --lang "$lang" &
prog=$!
win() { for _ in $(seq 100); do id=$(xdotool search --name "^$1\$" 2>/dev/null | head -1) && [ -n "$id" ] && { echo "$id"; return; }; sleep 0.1; done; return 1; }

sel=$(win "$(title "下位机选择")")
sleep 0.5
import -window root "$out/1-device-select.png"
xdotool windowfocus --sync "$sel" 2>/dev/null || true
xdotool mousemove --window "$sel" 95 97 click 1   # the code box radio
sleep 0.2
import -window root "$out/1b-device-select-code-box.png"
xdotool key Return
main=$(win "$(title "参数设置工具")")
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
about=$(win "$(title "关于 KM27A")")
sleep 0.4
import -window root "$out/5-about.png"
xdotool key Escape
sleep 0.3
xdotool windowfocus --sync "$main" 2>/dev/null || true
xdotool key F1
help=$(win "$(title "KM27A - 记事本")")
sleep 0.5
import -window root "$out/6-help.png"
xdotool windowunmap "$help" 2>/dev/null || true
xdotool windowfocus --sync "$main" 2>/dev/null || true
xdotool key F9
wait $prog || true

# KM27A.dat by its layout: the maker (GBK) and version fields, the options (line settings
# 1/0/1, every carrier in use), then 20 blocks of 24 slots. Carrier c has 4 to 20 steps.
full=$work/full
mkdir -p "$full"
durations=(3 4 5 6 7 8 9 10 15 20 30 40 50 60)
{
  printf '\xe1\xb0\xea\xd7\xb2\xe2\xbf\xd8\xbc\xbc\xca\xf5\xd1\xd0\xbe\xbf\xd3\xd0\xcf\xde\xb9\xab\xcb\xbe'
  printf '\0%.0s' $(seq 26)
  printf 'KM27A 1.0'
  printf '\0%.0s' $(seq 29)
  printf '\x01\x00\x01\x0f\x0f\xff\x07\x00'
  for c in $(seq 0 19); do
    codes=21; [ "$c" -ge 16 ] && codes=12
    steps=$((4 + (c * 7) % 17)); [ "$c" -eq 19 ] && steps=0
    for s in $(seq 0 23); do
      if [ "$s" -lt "$steps" ]; then
        printf "\\x$(printf %02x $(((c * 5 + s * 3) % codes)))\\x$(printf %02x "${durations[$(((c + s * 5) % 14))]}")"
      else
        printf '\0\0'
      fi
    done
  done
} >"$full/KM27A.dat"
[ "$(stat -c %s "$full/KM27A.dat")" -eq 1056 ]

cd "$full"
"$build/km27param" --lang "$lang" &
prog=$!
sel=$(win "$(title "下位机选择")")
sleep 0.5
xdotool windowfocus --sync "$sel" 2>/dev/null || true
xdotool mousemove --window "$sel" 95 97 click 1   # the code box radio
xdotool key Return
main=$(win "$(title "参数设置工具")")
sleep 0.8
xdotool windowfocus --sync "$main" 2>/dev/null || true
xdotool mousemove --window "$main" 160 181 click 1   # 2000 Hz, the carrier being edited
sleep 0.2
xdotool key F8                                       # the Clear question, answered No
sleep 0.6
import -window root "$out/7-clear-question.png"
xdotool key n
sleep 0.3
xdotool windowfocus --sync "$main" 2>/dev/null || true
xdotool key ctrl+g
overview=$(win "$(title "程序总览")")
xdotool windowmove "$overview" 10 10
xdotool windowsize "$overview" 920 740
sleep 0.8
import -window "$overview" "$out/8-overview.png"
xdotool windowunmap "$overview" 2>/dev/null || true
xdotool windowfocus --sync "$main" 2>/dev/null || true
xdotool mousemove --window "$main" 20 640 click 3   # the window menu with the document commands
sleep 0.4
import -window root "$out/9-window-menu-documents.png"
xdotool key d                                        # 导出PDF
win "$(title 导出PDF)" >/dev/null
sleep 0.5
import -window root "$out/10-pdf-chooser.png"
xdotool type --delay 20 "$full/record.pdf"
xdotool key Return
for _ in $(seq 50); do [ -s "$full/record.pdf" ] && break; sleep 0.1; done
cp "$full/record.pdf" "$out/record.pdf"
pdftoppm -r 110 -f 1 -l 1 -singlefile -png "$out/record.pdf" "$out/11-record-page-1"
xdotool windowfocus --sync "$main" 2>/dev/null || true
xdotool key F9
wait $prog || true
ls -l "$out"

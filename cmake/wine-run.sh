#!/bin/sh
# Runs a Windows program under wine: wine-run.sh PREFIX PROGRAM [ARGUMENT...]
# The prefix is made on first use. Its COM1 is pointed at nothing before any program runs: wine
# would otherwise map it to the machine's real /dev/ttyS0.
set -e
prefix=$1
shift
export WINEPREFIX="$prefix" WINEDEBUG=-all
unset DISPLAY
if [ ! -f "$prefix/.km27-ready" ]; then
  mkdir -p "$prefix"
  (
    flock 9
    if [ ! -f "$prefix/.km27-ready" ]; then
      wine64 wineboot -i >/dev/null 2>&1
      wine64 reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$prefix/no-such-port" /f >/dev/null 2>&1
      touch "$prefix/.km27-ready"
    fi
  ) 9>"$prefix.lock"
fi
# A server that outlives each program saves its start (half a second) on every test; its output
# goes nowhere, or it would hold the caller's pipes open.
wineserver -p30 >/dev/null 2>&1 </dev/null || true
exec wine64 "$@"

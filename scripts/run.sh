#!/usr/bin/env bash
# Sets up the machine, builds, and starts the tool on the desktop.
#   scripts/run.sh [--hardware] [working directory]
# The working directory holds KM27A.dat, KM27A.txt and DDINFO.txt; it defaults to ~/km27
# (or $KM27_WORKDIR) so that the operator's files stay out of the source tree.
#
# Without --hardware (and without $KM27_COM_DIR set) the tool talks to simulated lower machines
# on pseudo-terminals: a KM27C code transmitter on COM1 and a KM27A code box on COM2, both
# paced at their line's baud rate. With --hardware it uses the serial ports of this machine
# (see README: "Real hardware").
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KM27_BUILD_DIR:-$here/build}
hardware=0
if [ "${1:-}" = "--hardware" ]; then hardware=1; shift; fi
workdir=${1:-${KM27_WORKDIR:-$HOME/km27}}

"$here/scripts/setup-debian.sh"
"$here/scripts/build.sh"
build=$(cd "$build" && pwd)

mkdir -p "$workdir"
cd "$workdir"

sims=()
cleanup() {
  for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
  [ -n "${simdir:-}" ] && rm -rf "$simdir"
}
trap cleanup EXIT

if [ "$hardware" -eq 0 ] && [ -z "${KM27_COM_DIR:-}" ]; then
  simdir=$(mktemp -d /tmp/km27-com.XXXXXX)
  # Both simulators keep the line's pace (their default), as a real machine would.
  "$build/km27sim" --model KM27C --com-dir "$simdir" --com 1 &
  sims+=($!)
  "$build/km27sim" --model KM27A --com-dir "$simdir" --com 2 &
  sims+=($!)
  for _ in $(seq 50); do [ -e "$simdir/COM1" ] && [ -e "$simdir/COM2" ] && break; sleep 0.1; done
  export KM27_COM_DIR=$simdir
  echo "Simulated KM27C on COM1 and KM27A on COM2 ($simdir); use --hardware for real devices."
fi

"$build/km27param"

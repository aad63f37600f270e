#!/usr/bin/env bash
# Sets up the machine, builds, and starts the tool on the desktop.
#   scripts/run.sh [working directory]
# The working directory holds KM27A.dat, KM27A.txt and DDINFO.txt; it defaults to ~/km27
# (or $KM27_WORKDIR) so that the operator's files stay out of the source tree.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KM27_BUILD_DIR:-$here/build}
workdir=${1:-${KM27_WORKDIR:-$HOME/km27}}

"$here/scripts/setup-debian.sh"
"$here/scripts/build.sh"

mkdir -p "$workdir"
cd "$workdir"

# Simulated lower machine: start build/km27sim here, beside the tool, when no hardware is named.

exec "$build/km27param"

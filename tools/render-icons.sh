#!/usr/bin/env bash
# Renders the application icon (packaging/icons/org.km27.km27param.svg) to the PNG sizes the
# hicolor theme uses: packaging/icons/<N>x<N>/org.km27.km27param.png. Run after changing the SVG.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
command -v rsvg-convert >/dev/null || { echo "needs rsvg-convert (apt install librsvg2-bin)" >&2; exit 1; }
svg=$here/packaging/icons/org.km27.km27param.svg
for n in 16 22 24 32 48 64 128 256; do
  mkdir -p "$here/packaging/icons/${n}x${n}"
  rsvg-convert -w "$n" -h "$n" "$svg" -o "$here/packaging/icons/${n}x${n}/org.km27.km27param.png"
done
ls -R "$here/packaging/icons"

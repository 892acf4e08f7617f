#!/usr/bin/env bash
# Renders the PNG icons in assets/icons/ from assets/tamsivo.svg (they are
# committed, so building and installing need no SVG renderer). Run it after
# changing the SVG: bash packaging/render-icons.sh
set -euo pipefail
cd "$(dirname "$0")/.."
for size in 48 256; do
  rsvg-convert --width "$size" --height "$size" --keep-aspect-ratio \
    -o "assets/icons/${size}x${size}/tamsivo.png" assets/tamsivo.svg
done

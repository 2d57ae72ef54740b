#!/bin/sh
# Renders the application icon at the hicolor theme's usual sizes from icons/korvi.svg
# (needs rsvg-convert from librsvg2-bin). The PNGs are committed, so a build needs neither.
set -eu
cd "$(dirname "$0")/icons"
for size in 16 22 24 32 48 64 128 256; do
    rsvg-convert -w "$size" -h "$size" korvi.svg -o "korvi-$size.png"
done

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Renders the application icon's PNG sizes from its SVG into data/icons/.
# Run it after changing the SVG and commit the PNGs it writes (needs
# rsvg-convert, Debian package librsvg2-bin).
#
# The picture lies on a 16-pixel grid. Sizes that are whole multiples of 16
# scale it exactly; 22 gives the same design with 6-pixel squares. 24 would
# scale by 1.5 and leave uneven gaps, so it is the 22-pixel picture with a
# one-pixel transparent border instead.
set -euo pipefail
cd "$(dirname "$0")/../data/icons"

svg=org.quelmark.VornalithControlCentre.svg
for size in 16 22 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" -o "${size}x${size}.png" "$svg"
done
rsvg-convert -w 22 -h 22 --page-width 24 --page-height 24 --left 1 --top 1 -o 24x24.png "$svg"

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Renders the application icon's PNGs for the hicolor theme from its SVG
# (needs rsvg-convert, Debian package librsvg2-bin). The PNGs are kept in the
# repository, so building the package does not need this.
set -euo pipefail
cd "$(dirname "$0")/../packaging/icons"
for size in 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" org.qv550.control.svg -o "org.qv550.control-$size.png"
done

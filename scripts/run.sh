#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up, builds and starts the panel. Without arguments it starts on a
# simulated projector (--demo); with arguments they go to the panel, e.g.
#   scripts/run.sh --com1 /dev/ttyUSB0
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
[ $# -gt 0 ] || set -- --demo
exec build/bin/qv550-control "$@"

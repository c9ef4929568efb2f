#!/usr/bin/env bash
# Sets up, builds and starts the panel. Arguments go to the panel, e.g.
#   scripts/run.sh --com1 /dev/ttyUSB0
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
exec build/bin/qv550-control "$@"

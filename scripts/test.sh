#!/usr/bin/env bash
# Sets up, builds with warnings as errors and runs every test: unit, serial
# (on pseudo-terminals), widget (offscreen) and end-to-end (under Xvfb).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh -DPANEL_WARNINGS_AS_ERRORS=ON
cd build
ctest --output-on-failure --timeout 300 -j2

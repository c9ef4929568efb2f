#!/usr/bin/env bash
# Sets up, builds with warnings as errors and runs every test: unit, serial
# (on pseudo-terminals), widget (offscreen), end-to-end (under Xvfb), after a
# 30-second pass of the receive-path fuzzer. Benchmarks are left to bench.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh -DPANEL_WARNINGS_AS_ERRORS=ON
scripts/fuzz.sh 30
cd build
ctest --output-on-failure --timeout 300 -j2 -LE bench

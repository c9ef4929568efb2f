#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up, builds with warnings as errors and runs every test: unit, serial
# (on pseudo-terminals), widget (offscreen, at scale 1 and 2), end-to-end
# (under Xvfb, on socat rigs, against ser2net and pySerial's RFC 2217 server),
# and the Debian package through Debian's validators, after a 30-second pass
# of each fuzzer. Benchmarks are left to bench.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh -DPANEL_WARNINGS_AS_ERRORS=ON
scripts/fuzz.sh 30
cd build
ctest --output-on-failure --timeout 300 -j2 -LE bench

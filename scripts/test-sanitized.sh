#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up, builds every test with AddressSanitizer and UndefinedBehaviorSanitizer
# into build-sanitize/, and runs them all.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPANEL_SANITIZE=ON >/dev/null
cmake --build build-sanitize
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/support/leak-suppressions.txt:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
cd build-sanitize
ctest --output-on-failure --timeout 300 -j2 -LE "bench|package"

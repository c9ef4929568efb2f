#!/usr/bin/env bash
# Builds the receive-path fuzzer with clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer into build-fuzz/, and runs it for SECONDS
# (default 30) over the corpus in fuzz/corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
scripts/setup.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPANEL_FUZZ=ON -DPANEL_FUZZ_SECONDS="$seconds" >/dev/null
cmake --build build-fuzz --target receive_fuzzer
cd build-fuzz
ctest --output-on-failure -L fuzz

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the fuzzers (the receive path, the Telnet decoder of network
# lines, the owner's request reader and the PJLink face) with clang's
# libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer into build-fuzz/,
# and runs each for SECONDS (default 30) over its corpus in fuzz/corpus,
# fuzz/telnet_corpus, fuzz/request_corpus and fuzz/pjlink_corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
scripts/setup.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPANEL_FUZZ=ON -DPANEL_FUZZ_SECONDS="$seconds" >/dev/null
cmake --build build-fuzz --target receive_fuzzer telnet_fuzzer request_fuzzer pjlink_fuzzer
cd build-fuzz
ctest --output-on-failure -L fuzz

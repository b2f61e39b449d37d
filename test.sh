#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds Pagelume and runs every test twice:
# once in an optimised build and once under AddressSanitizer and UBSan.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs" --timeout 300

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DPAGELUME_SANITIZE=ON
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs" --timeout 600

#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine (as root) and runs the whole test suite:
# the normal build with every test, and the ASan+UBSan build with the unit
# tests.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DHOROLAN_SANITIZE=ON
cmake --build build-asan

ctest --test-dir build --output-on-failure -j2
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan -L unit --output-on-failure -j2

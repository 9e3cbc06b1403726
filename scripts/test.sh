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

# No test may move this machine's clock: everything runs without the right
# to set it, so even a test gone wrong can only make a set fail.
no_clock_rights=(setpriv --bounding-set -sys_time --inh-caps -sys_time)
"${no_clock_rights[@]}" ctest --test-dir build --output-on-failure -j2
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  "${no_clock_rights[@]}" ctest --test-dir build-asan -L unit --output-on-failure -j2

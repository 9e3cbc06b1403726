#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Sets up a fresh Debian 12 machine (as root) and runs the whole test suite:
# the normal build with every test, the ASan+UBSan build with the unit tests,
# and a Release build with default options that is installed and run from its
# install folder, then the distribution's package (shared runtime) checked by
# lintian, installed, purged and run under a real systemd in a container
# (scripts/check-install.sh, scripts/check-systemd.sh). Warnings are errors
# here, and only here.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh tests
bash scripts/fetch-peers.sh build

bash scripts/format.sh --check

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHOROLAN_WERROR=ON -DHOROLAN_TESTS=ON -DHOROLAN_BENCH=ON
cmake --build build
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DHOROLAN_SANITIZE=ON -DHOROLAN_WERROR=ON
cmake --build build-asan

# No test may move this machine's clock: everything runs without the right
# to set it, so even a test gone wrong can only make a set fail.
no_clock_rights=(setpriv --bounding-set -sys_time --inh-caps -sys_time)
"${no_clock_rights[@]}" ctest --test-dir build --output-on-failure -j2
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  "${no_clock_rights[@]}" ctest --test-dir build-asan -L unit --output-on-failure -j2

# The user's build: Release, default options (plus warnings as errors).
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DHOROLAN_WERROR=ON
cmake --build build-release
bash scripts/check-install.sh build-release build

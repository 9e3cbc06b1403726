#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine (as root) with what building and running
# need, builds horolan and runs it in show-only mode against its default
# server: the clock is left alone (and the run has no right to set it).
# Further arguments go to horolan. The last line says where the executable is.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# A first configuration leaves out the tests and benchmarks (their libraries
# come with scripts/test.sh); a build folder the tests configured keeps them.
first=()
[ -f build/CMakeCache.txt ] || first=(-DHOROLAN_TESTS=OFF -DHOROLAN_BENCH=OFF)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${first[@]}" >/dev/null
cmake --build build --target horolan
status=0
setpriv --bounding-set -sys_time --inh-caps -sys_time build/bin/horolan --only-show "$@" || status=$?
echo "run.sh: the executable is $PWD/build/bin/horolan (exit status of this run: $status)"
exit "$status"

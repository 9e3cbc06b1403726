#!/usr/bin/env bash
# Builds a libFuzzer target of fuzz/CMakeLists.txt with clang (ASan+UBSan) and runs it for a bounded time;
# non-zero when it finds a crash. fuzz/run.sh NAME [SECONDS], e.g. fuzz/run.sh fuzz_sntp_answer 60
set -euo pipefail
cd "$(dirname "$0")/.."
name=${1:?usage: fuzz/run.sh NAME [SECONDS]}
seconds=${2:-60}
build=${FUZZ_BUILD_DIR:-build-fuzz}
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DHOROLAN_FUZZ=ON -DHOROLAN_BENCH=OFF >/dev/null
cmake --build "$build" --target "$name"
corpus="$build/corpus/$name"
mkdir -p "$corpus"
seeds="fuzz/seeds/$name"
[ -d "$seeds" ] || seeds=""
"$build/bin/$name" -max_total_time="$seconds" -print_final_stats=1 "$corpus" $seeds

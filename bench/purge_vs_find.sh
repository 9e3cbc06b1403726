#!/usr/bin/env bash
# The web cache purge against `find DIR -type f -name 'alpha*' -delete` on
# identical fresh trees of 100,000 files in 1,000 folders, side by side.
# Usage: bench/purge_vs_find.sh [--rounds N] [--dir BASE] ...
# BUILD_DIR (default build) is the normal build to use.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
[ -f "$build/build.ninja" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target bench_purge
"$build/bin/bench_purge" "$@"

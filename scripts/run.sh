#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine (as root), builds horolan and runs it in
# show-only mode against its default server: the clock is left alone.
# Further arguments go to horolan.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target horolan
exec build/bin/horolan '#ONLYSHOW' "$@"

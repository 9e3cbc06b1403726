#!/usr/bin/env bash
# How close one silent SNTP run brings the clock to the server's: RUNS runs
# of the real executable against chronyd on 127.0.0.1:123 (local stratum 8,
# so it serves the machine's own clock) in a private network namespace, each
# on a virtual clock started at a random offset within +-100 s. The residual
# error of a run is the virtual offset it leaves. Prints the median, the 90th
# percentile and the maximum. Without the right to set the clock, and under
# the virtual-clock shim of BUILD_DIR, for every executable measured.
#
#   bench/accuracy.sh [BUILD_DIR] [RUNS] [OTHER_EXECUTABLE...]
#
# Other executables (an older build, say) are measured in the same session,
# run for run after this build's.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
runs=${2:-200}

source bench/chrony.sh
chronyd=$(bench_chronyd "$build")

bench_isolate "$@"

executables=("$build/bin/horolan")
for other in "${@:3}"; do executables+=("$(realpath "$other")"); done
shim=$build/bin/libhorolan_vclock.so

work=$(mktemp -d /tmp/horolan-accuracy.XXXXXX)
trap 'kill $chrony 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
ip link set lo up
cc -O2 -o "$work/floor" bench/floor_sntp.c
start_bench_chrony "$chronyd" "$work"
for i in $(seq 100); do "$work/floor" && break; sleep 0.1; done

export XDG_STATE_HOME=$work/state XDG_CACHE_HOME=$work/cache HOME=$work
# A signed offset in nanoseconds, uniform within +-100 s.
random_offset() { echo $(($(od -An -N6 -tu8 /dev/urandom) % 200000000001 - 100000000000)); }

for i in $(seq "$runs"); do
  start=$(random_offset)
  for e in "${!executables[@]}"; do
    echo "$start" > "$work/offset"
    status=0
    env LD_PRELOAD="$shim" HOROLAN_VCLOCK_FILE="$work/offset" \
      "${executables[$e]}" --silent --sntp --server=127.0.0.1 </dev/null >/dev/null 2>&1 || status=$?
    left=$(cat "$work/offset")
    [ "$status" = 0 ] && echo "${left#-}" >> "$work/residual.$e" || echo "$status" >> "$work/failed.$e"
  done
done

printf '%-40s %6s %12s %12s %12s %s\n' executable runs "median ms" "p90 ms" "max ms" failed
for e in "${!executables[@]}"; do
  sort -n "$work/residual.$e" 2>/dev/null | awk -v name="${executables[$e]}" -v failed="$(cat "$work/failed.$e" 2>/dev/null | wc -l)" '
    {a[NR] = $1}
    END {
      median = NR % 2 ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2
      p90 = a[int(0.9 * NR + 0.999999)]
      printf "%-40s %6d %12.4f %12.4f %12.4f %d\n", name, NR, median / 1e6, p90 / 1e6, a[NR] / 1e6, failed
    }'
done

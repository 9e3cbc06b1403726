#!/usr/bin/env bash
# What confinement and the split add to a whole silent SNTP run: the executable
# next to the same program with both turned off (bench_horolan_unconfined), in turns,
# against chronyd on 127.0.0.1:123 in a private network namespace, without
# the right to set the clock and on the virtual clock. Prints the median and
# the lower quartile (less disturbed by other load) of each one's wall and
# CPU time, and the differences.
#
#   bench/confine_run.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
runs=${2:-200}
source bench/chrony.sh
chronyd=$(bench_chronyd "$build")

bench_isolate "$build" "$runs"

work=$(mktemp -d /tmp/horolan-bench.XXXXXX)
trap 'kill $chrony 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
ip link set lo up
cc -O2 -o "$work/floor" bench/floor_sntp.c
cc -O2 -o "$work/measure" bench/measure.c
start_bench_chrony "$chronyd" "$work"
for _ in $(seq 100); do "$work/floor" && break; sleep 0.1; done

export XDG_STATE_HOME=$work/state XDG_CACHE_HOME=$work/cache
export LD_PRELOAD=$build/bin/libhorolan_vclock.so HOROLAN_VCLOCK_FILE=$work/offset
args=(--silent --sntp --server=127.0.0.1)
for _ in $(seq "$runs"); do  # in turns, so that both meet the same load
  "$work/measure" 1 "$build/bin/horolan" "${args[@]}" >> "$work/confined"
  "$work/measure" 1 "$build/bin/bench_horolan_unconfined" "${args[@]}" >> "$work/unconfined"
done

# quantile Q COLUMN FILE: that quantile of the column, in ms.
quantile() { awk -v c="$2" '{print $c}' "$3" | sort -n | awk -v q="$1" '{a[NR] = $1} END {print a[int((NR - 1) * q) + 1] / 1000}'; }
printf '%-12s %9s %9s %9s %9s %s\n' run "wall p50" "wall p25" "CPU p50" "CPU p25" "(ms; failed runs)"
for kind in confined unconfined; do
  printf '%-12s %9.3f %9.3f %9.3f %9.3f %s\n' "$kind" "$(quantile 0.5 1 "$work/$kind")" "$(quantile 0.25 1 "$work/$kind")" \
    "$(quantile 0.5 4 "$work/$kind")" "$(quantile 0.25 4 "$work/$kind")" "$(awk '$3 != 0' "$work/$kind" | wc -l)"
done
for q in 0.5 0.25; do
  wall=$(bc -l <<< "$(quantile $q 1 "$work/confined") - $(quantile $q 1 "$work/unconfined")")
  cpu=$(bc -l <<< "$(quantile $q 4 "$work/confined") - $(quantile $q 4 "$work/unconfined")")
  printf 'confinement adds (p%s): %.3f ms wall, %.1f %% of the run; %.3f ms CPU, %.1f %%\n' "$(bc <<< "$q * 100 / 1")" "$wall" \
    "$(bc -l <<< "100 * $wall / $(quantile $q 1 "$work/confined")")" "$cpu" \
    "$(bc -l <<< "100 * $cpu / $(quantile $q 4 "$work/confined")")"
done

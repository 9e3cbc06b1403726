#!/usr/bin/env bash
# Where a whole silent show-only SNTP run spends its time, phase by phase:
# runs that stop after each phase, timed by `perf stat` (task-clock, page
# faults, wall time), one of each in turns, against chronyd on 127.0.0.1:123 in a private
# network namespace, without the right to set the clock, on the virtual
# clock. Medians; a phase is the difference of the medians of two runs:
#   load                  horolan --version (start, loader, exit)
#   settings              horolan --show-settings ARGS, less load
#   store                 horolan '#REGISTER' ARGS (opens the store, reads the
#                         shell registration), less settings
#   exchange              the run with confinement and the split off
#                         (bench_horolan_unconfined), less store: the time
#                         floor, the request and answer, LastResult compared
#   confinement and split the whole run, less the one without them
#   store write           the whole run after one that left another
#                         LastResult (so it is written), less the whole run
#
#   bench/phases.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
runs=${2:-100}
source bench/chrony.sh
chronyd=$(bench_chronyd "$build")
command -v perf >/dev/null || { echo "phases: no perf" >&2; exit 1; }

bench_isolate "$build" "$runs"

work=$(mktemp -d /tmp/horolan-bench.XXXXXX)
trap 'kill $chrony 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
ip link set lo up
cc -O2 -o "$work/floor" bench/floor_sntp.c
start_bench_chrony "$chronyd" "$work"
for _ in $(seq 100); do "$work/floor" && break; sleep 0.1; done

export XDG_CACHE_HOME=$work/cache HOROLAN_VCLOCK_FILE=$work/offset
echo 0 > "$work/offset"
shim=$build/bin/libhorolan_vclock.so
horolan=$build/bin/horolan
args=(--silent --only-show --sntp --server=127.0.0.1)
# A run against an address where nothing answers leaves LastResult 10061.
other="$horolan --silent --only-show --sntp --server=127.0.0.3 || true"  # perf stops at a failing --pre

names=(floor load settings store exchange whole write)
# stat NAME [PERF_OPTION...] -- COMMAND...: one run, horolan's on the virtual clock (perf carries the shim to it, the
# floor runs bare) with a registry of its own (the shell registration names the executable: another one's run would
# write it anew); its task-clock (ms), page faults and wall time (ms) appended to runs.NAME.
stat() {
  local name=$1 preload=$shim
  shift
  [ "$name" = floor ] && preload=
  XDG_STATE_HOME=$work/state.$name LD_PRELOAD=$preload perf stat -x, -e task-clock,page-faults,duration_time \
    -o "$work/perf" "$@" >/dev/null 2>&1 || true
  awk -F, '/task-clock/ {t = $1} /page-faults/ {f = $1} /duration_time/ {d = $1 / 1e6} END {print t, f, d}' \
    "$work/perf" >> "$work/runs.$name"
}
for name in "${names[@]}"; do stat "$name" -- "$horolan" "${args[@]}"; done  # each registry made
rm "$work"/runs.*
for _ in $(seq "$runs"); do
  stat floor -- "$work/floor" 127.0.0.1
  stat load -- "$horolan" --version
  stat settings -- "$horolan" --show-settings "${args[@]}"
  stat store -- "$horolan" '#REGISTER' "${args[@]}"
  stat exchange -- "$build/bin/bench_horolan_unconfined" "${args[@]}"
  stat whole -- "$horolan" "${args[@]}"
  stat write --pre "$other" -- "$horolan" "${args[@]}"
done

# median NAME COLUMN
median() { awk -v c="$2" '{print $c}' "$work/runs.$1" | sort -g | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }
printf '| run | CPU ms | page faults | wall ms | phase | CPU ms | page faults | wall ms |\n'
printf '|---|---|---|---|---|---|---|---|\n'
for name in "${names[@]}"; do
  cpu=$(median "$name" 1) faults=$(median "$name" 2) wall=$(median "$name" 3)
  case $name in
    floor) phase="(bare request and answer)" base= ;;
    load) phase=load base= ;;
    settings) phase=settings base=load ;;
    store) phase=store base=settings ;;
    exchange) phase=exchange base=store ;;
    whole) phase="confinement and split" base=exchange ;;
    write) phase="store write" base=whole ;;
  esac
  dcpu=$cpu dfaults=$faults dwall=$wall
  [ -n "$base" ] && dcpu=$(bc -l <<< "$cpu - $(median "$base" 1)") dfaults=$((faults - $(median "$base" 2))) \
    dwall=$(bc -l <<< "$wall - $(median "$base" 3)")
  printf '| %s | %.3f | %s | %.3f | %s | %.3f | %s | %.3f |\n' "$name" "$cpu" "$faults" "$wall" "$phase" "$dcpu" \
    "$dfaults" "$dwall"
done

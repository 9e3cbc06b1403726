#!/usr/bin/env bash
# What "#CONNECT" costs a silent SNTP run when NetworkManager is the connection
# manager: the real daemon of tests/e2e/nm_world.sh (private bus, a veth pair
# to chronyd in a namespace of its own), in turns: a run without "#CONNECT"
# and one with it while the profile is up (the step only asks NetworkManager
# whether there is a default route), and a run that brings the profile up
# for the query and down again (waiting until it is down). Prints the median
# and lower quartile of each one's wall and CPU time.
#
#   bench/connect_nm.sh [BUILD_DIR] [RUNS]
set -uo pipefail
cd "$(dirname "$0")/.."
if [ "${HOROLAN_BENCH_INSIDE:-}" != 1 ]; then
  build=$(realpath "${1:-build}")
  exec env HOROLAN_BENCH_INSIDE=1 HOROLAN_BIN="$build/bin" BENCH_RUNS="${2:-50}" \
    bash tests/e2e/in_namespace.sh "$(realpath "$0")"
fi

source tests/e2e/lib.sh
source tests/e2e/nm_world.sh
install_app && cp "$BIN/libhorolan_nm.so" "$APP/"
start_nm_world
nm_profile a-static 0 nmv0 method=manual address1=10.77.0.1/24,10.77.0.2
nmcli connection reload
cc -O2 -o "$WORK/measure" bench/measure.c

export XDG_STATE_HOME=$WORK/state XDG_CACHE_HOME=$WORK/cache
export LD_PRELOAD=$BIN/libhorolan_vclock.so HOROLAN_VCLOCK_FILE=$WORK/offset
args=(--silent --only-show --sntp --server=10.77.0.2)
for _ in $(seq "$BENCH_RUNS"); do
  nmcli connection up a-static >/dev/null
  "$WORK/measure" 1 "$APP/horolan" "${args[@]}" >> "$WORK/plain"
  "$WORK/measure" 1 "$APP/horolan" --connect "${args[@]}" >> "$WORK/connected"
  nmcli connection down a-static >/dev/null
  "$WORK/measure" 1 "$APP/horolan" --connection=a-static "${args[@]}" >> "$WORK/brought-up"
done

# quantile Q COLUMN FILE: that quantile of the column, in ms.
quantile() {
  awk -v c="$2" '{print $c}' "$3" | sort -n |
    awk -v q="$1" '{a[NR] = $1} END {print a[int((NR - 1) * q) + 1] / 1000}'
}
printf '%-12s %9s %9s %9s %9s %s\n' run "wall p50" "wall p25" "CPU p50" "CPU p25" "(ms; failed runs)"
for kind in plain connected brought-up; do
  printf '%-12s %9.3f %9.3f %9.3f %9.3f %s\n' "$kind" "$(quantile 0.5 1 "$WORK/$kind")" \
    "$(quantile 0.25 1 "$WORK/$kind")" "$(quantile 0.5 4 "$WORK/$kind")" \
    "$(quantile 0.25 4 "$WORK/$kind")" "$(awk '$3 != 0' "$WORK/$kind" | wc -l)"
done

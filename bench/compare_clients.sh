#!/usr/bin/env bash
# Compares one whole horolan SNTP run (silent, show-only) with other SNTP
# clients from Debian's packages and with a floor (bench/floor_sntp.c: one
# request, one answer), all against the same chronyd on 127.0.0.1:123 in a
# private network namespace, without the right to set the clock. Reports the
# median wall time, the peak memory (median and largest: the first run creates
# the registry), the median CPU time of each, and the
# ratios to the floor (median to median, fastest to fastest).
#
#   bench/compare_clients.sh [BUILD_DIR] [RUNS] [OTHER_HOROLAN...]
#
# Other horolan executables (an older build, another link) are measured in
# the same session, next to this build's, as "horolan 2", "horolan 3", ...
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
runs=${2:-30}

# The peers come unpacked from their Debian packages (scripts/fetch-peers.sh
# BUILD_DIR); nothing is installed here. A client that is missing is left out.
source bench/chrony.sh
bench_side_by_side "$build" "$runs" "${@:3}"

work=$(mktemp -d /tmp/horolan-bench.XXXXXX)
trap 'kill $chrony 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
ip link set lo up
cc -O2 -o "$work/floor" bench/floor_sntp.c
start_bench_chrony "$chronyd" "$work"
for i in $(seq 100); do "$work/floor" && break; sleep 0.1; done

cc -O2 -o "$work/measure" bench/measure.c
# The horolan runs go on the virtual clock like every run of it here (the
# floor and the other clients run bare): the shim comes with the tests' build.
shim=$build/bin/libhorolan_vclock.so
[ -f "$shim" ] || { echo "no $shim: build with -DHOROLAN_TESTS=ON" >&2; exit 1; }
echo 0 > "$work/offset"

# Each client: a name and its command line.
names=() commands=()
add() { names+=("$1"); commands+=("$2"); }
add floor "$work/floor 127.0.0.1"
# Its registry (where LastResult is written, durably) lives in the work folder.
export XDG_CACHE_HOME=$work/cache
add horolan "$build/bin/horolan --silent --only-show --sntp --server=127.0.0.1"
n=1
for other in "${@:3}"; do add "horolan $((++n))" "$(realpath "$other") --silent --only-show --sntp --server=127.0.0.1"; done
# ntpsec's Python clients load their C part, libntpc, from its own folder.
ntpsec="env LD_LIBRARY_PATH=$peers/ntpsec/usr/lib/x86_64-linux-gnu/ntp"
command -v ntpdig >/dev/null && add "ntpdig" "$ntpsec ntpdig 127.0.0.1"
command -v ntpdate >/dev/null && add "ntpdate -q" "$ntpsec ntpdate -q 127.0.0.1"
add "chronyd -Q" "$chronyd -Q -u root -f /dev/null server~127.0.0.1~iburst~maxsamples~1"

printf '%-12s %10s %10s %10s %16s %10s %s\n' client "median ms" "min ms" "max ms" "peak KiB med/max" "CPU ms" \
  "x floor (median / min)"
# The floor and the horolan executables round by round, one run of each, so
# that a busy machine weighs on them alike; then the other clients, each
# client with a registry of its own.
measure() {  # INDEX RUNS
  read -r -a argv <<< "${commands[$1]}"
  argv=("${argv[@]//\~/ }")
  local clock=()
  [ "$1" -ge 1 ] && [ "$1" -le "$n" ] && clock=(LD_PRELOAD="$shim" HOROLAN_VCLOCK_FILE="$work/offset")
  env "${clock[@]}" XDG_STATE_HOME="$work/state.$1" "$work/measure" "$2" "${argv[@]}" >> "$work/runs.$1"
}
for round in $(seq "$runs"); do
  for ((i = 0; i <= n; i++)); do measure "$i" 1; done
done
for ((i = n + 1; i < ${#names[@]}; i++)); do measure "$i" "$runs"; done

floor=""
for i in "${!names[@]}"; do
  mv "$work/runs.$i" "$work/runs"
  bad=$(awk '$3 != 0' "$work/runs" | wc -l)
  med=$(awk '{print $1}' "$work/runs" | sort -n | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}')
  min=$(awk '{print $1}' "$work/runs" | sort -n | head -n 1)
  max=$(awk '{print $1}' "$work/runs" | sort -n | tail -n 1)
  mem=$(awk '{print $2}' "$work/runs" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)] "/" a[NR]}')
  cpu=$(awk '{print $4}' "$work/runs" | sort -n | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}')
  [ -z "$floor" ] && floor=$med floor_min=$min
  printf '%-12s %10.2f %10.2f %10.2f %16s %10.2f %7.2f / %.2f%s\n' "${names[$i]}" "$(bc -l <<< "$med/1000")" \
    "$(bc -l <<< "$min/1000")" "$(bc -l <<< "$max/1000")" "$mem" "$(bc -l <<< "$cpu/1000")" \
    "$(bc -l <<< "$med/$floor")" "$(bc -l <<< "$min/$floor_min")" "$([ "$bad" -gt 0 ] && echo "  ($bad runs failed)")"
done
strip -o "$work/horolan.stripped" "$build/bin/horolan"
echo "stripped horolan: $(stat -c %s "$work/horolan.stripped") bytes; shared libraries at start: $(ldd "$build/bin/horolan" | wc -l)"

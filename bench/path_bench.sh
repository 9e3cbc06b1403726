#!/usr/bin/env bash
# Success and error over an impaired path: horolan (one request, resent every
# half second; and a burst of 8), ntpdig and `chronyd -Q` (one sample) against the
# same chronyd, through bench/path_relay.py (loss each way, delay, one-sided
# jitter), in a private network namespace, without the right to set the clock.
# Each client gets RUNS runs per path, 5 s each at most. Error: the offset a
# successful run measured (horolan: what it left on its virtual clock, which
# starts right), against a server on this very clock, so the truth is 0.
#
#   bench/path_bench.sh [BUILD_DIR] [RUNS] [OTHER_HOROLAN...]
#
# Other horolan executables (an older build) run in the same session, one
# request each, as "horolan 2", "horolan 3", ...
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
runs=${2:-30}
source bench/chrony.sh
bench_side_by_side "$build" "$runs" "${@:3}"
others=()
for other in "${@:3}"; do others+=("$(realpath "$other")"); done

work=$(mktemp -d /tmp/horolan-path.XXXXXX)
relay=
trap 'kill $chrony $relay 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
ip link set lo up
start_bench_chrony "$chronyd" "$work" "port 11123"
export XDG_STATE_HOME=$work/state XDG_CACHE_HOME=$work/cache
shim=(env LD_PRELOAD="$build/bin/libhorolan_vclock.so" HOROLAN_VCLOCK_FILE="$work/offset")

# One run of a client through the relay at 127.0.0.2:123: the offset it found in
# seconds, or nothing when it failed.
run_client() {
  case $1 in
    horolan*)
      local executable=$build/bin/horolan samples=${2:-}
      [ "$samples" = "${samples#+}" ] || executable=${others[${samples#+} - 1]} samples=
      echo 0 > "$work/offset"
      "${shim[@]}" "$executable" --silent --sntp --server=127.0.0.2 ${samples:+"--samples=$samples"} >/dev/null 2>&1 &&
        awk '{printf "%.9f\n", -$1 / 1e9}' "$work/offset" ;;
    ntpdig)
      LD_LIBRARY_PATH=$peers/ntpsec/usr/lib/x86_64-linux-gnu/ntp timeout 10 ntpdig -t 5 127.0.0.2 2>/dev/null |
        awk '$4 ~ /^[-+][0-9]/ {print $4 + 0; exit}' ;;
    chronyd)
      timeout 10 "$chronyd" -Q -t 5 -u root -f /dev/null "server 127.0.0.2 iburst maxsamples 1" 2>&1 |
        awk '/System clock wrong by/ {print -$(NF-2); exit}' ;;
  esac
}

# path NAME LOSS DELAY_MS JITTER_MS: a table row per client.
path() {
  kill $relay 2>/dev/null || true
  python3 bench/path_relay.py 127.0.0.2 123 127.0.0.1 11123 "$2" "$3" "$4" 7 &
  relay=$!
  sleep 0.3
  for _ in $(seq 50); do run_client horolan >/dev/null && break; done  # chronyd ready
  local client clients=("horolan" "horolan 8") i
  for ((i = 1; i <= ${#others[@]}; i++)); do clients+=("horolan +$i"); done
  for client in "${clients[@]}" ntpdig chronyd; do
    : > "$work/found"
    local started=$(date +%s%N)
    for _ in $(seq "$runs"); do run_client $client >> "$work/found" || true; done
    local took=$((($(date +%s%N) - started) / 1000000 / runs)) name=${client/+/}
    [ "$name" = "$client" ] || name="horolan $((${client#horolan +} + 1))"
    awk '{print ($1 < 0 ? -$1 : $1) * 1000}' "$work/found" | sort -g |
      awk -v name="$1" -v client="$name" -v runs="$runs" -v took="$took" '{ e[NR] = $1 } END {
        p90 = int(NR * 0.9 + 0.5); if (p90 < 1) p90 = 1
        printf "| %s | %s | %d/%d | %s | %s | %d ms |\n", name, client, NR, runs,
          NR ? sprintf("%.2f", e[int((NR + 1) / 2)]) : "-", NR ? sprintf("%.2f", e[p90]) : "-", took }'
  done
}

echo "| path | client | succeeded | median error ms | p90 error ms | mean run |"
echo "|---|---|---|---|---|---|"
path "10 % loss each way" 0.1 1 0
path "30 % loss each way" 0.3 1 0
path "10 ms each way + Pareto jitter 10 ms" 0 10 10

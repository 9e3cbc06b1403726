#!/usr/bin/env bash
# Times one whole NTS run of horolan (key exchange and one authenticated
# exchange; silent, show-only) next to chronyd -Q with one NTS sample, both
# against the same chronyd NTS server on 127.0.0.1 (the tests' CA) in a
# private network namespace, without the right to set the clock. Reports the
# median wall time and the peak memory of each, and the ratio.
#
#   bench/compare_nts.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
runs=${2:-30}
source bench/chrony.sh
source tests/e2e/test_ca.sh
chronyd=$(bench_chronyd "$build")

bench_isolate "$build" "$runs"

work=$(mktemp -d /tmp/horolan-bench.XXXXXX)
trap 'kill $chrony 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
ip link set lo up
make_test_ca "$work"
start_bench_chrony "$chronyd" "$work" "ntsdumpdir $work" "ntsservercert $work/server.pem" "ntsserverkey $work/server.key"

cc -O2 -o "$work/measure" bench/measure.c
mkdir -p "$work/app"
cp "$build/bin/horolan" "$build"/bin/libhorolan_*.so "$work/app/"
export XDG_STATE_HOME=$work/state XDG_CACHE_HOME=$work/cache SSL_CERT_FILE=$work/ca.pem SSL_CERT_DIR=/nonexistent
horolan=("$work/app/horolan" --silent --only-show --nts --server=127.0.0.1)
for i in $(seq 100); do "${horolan[@]}" && break; sleep 0.1; done

printf '%-12s %10s %10s %10s %10s\n' client "median ms" "min ms" "max ms" "peak KiB"
median=()
for name in horolan "chronyd -Q"; do
  if [ "$name" = horolan ]; then
    "$work/measure" "$runs" "${horolan[@]}" > "$work/runs"
  else
    "$work/measure" "$runs" "$chronyd" -Q -u root -f /dev/null "server 127.0.0.1 iburst nts maxsamples 1" \
      "ntstrustedcerts $work/ca.pem" > "$work/runs"
  fi
  bad=$(awk '$3 != 0' "$work/runs" | wc -l)
  sorted=$(awk '{print $1}' "$work/runs" | sort -n)
  med=$(awk '{a[NR]=$1} END {printf "%d\n", (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}' <<< "$sorted")
  median+=("$med")
  printf '%-12s %10.2f %10.2f %10.2f %10s%s\n' "$name" "$(bc -l <<< "$med/1000")" \
    "$(bc -l <<< "$(head -n 1 <<< "$sorted")/1000")" "$(bc -l <<< "$(tail -n 1 <<< "$sorted")/1000")" \
    "$(awk '{print $2}' "$work/runs" | sort -n | tail -n 1)" "$([ "$bad" -gt 0 ] && echo "  ($bad runs failed)")"
done
printf 'chronyd -Q / horolan: %.1f times\n' "$(bc -l <<< "${median[1]}/${median[0]}")"

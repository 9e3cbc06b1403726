# Sourced by the benchmarks: chronyd from the build's unpacked peers or the system (never installed here), run in
# the benchmark's private network namespace.

# bench_chronyd BUILD_DIR: the chronyd to run, or the reason there is none.
bench_chronyd() {
  local dir
  for dir in "$1/peers/chrony/usr/sbin" /usr/sbin; do
    [ -x "$dir/chronyd" ] && echo "$dir/chronyd" && return 0
  done
  echo "no chronyd (scripts/fetch-peers.sh $1 unpacks one)" >&2
  return 1
}

# start_bench_chrony CHRONYD WORK [LINE...]: a synchronised chronyd (local stratum 8) on 127.0.0.1:123 that never
# sets a clock (-x), LINEs added to its configuration; its PID in $chrony.
start_bench_chrony() {
  printf '%s\n' "port 123" "bindaddress 127.0.0.1" "allow 127.0.0.1" "cmdport 0" "local stratum 8" \
    "pidfile $2/chronyd.pid" "${@:3}" > "$2/chrony.conf"
  "$1" -x -d -u root -f "$2/chrony.conf" >"$2/chrony.log" 2>&1 &
  chrony=$!
}

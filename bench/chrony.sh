# Sourced by the benchmarks: chronyd from the build's unpacked peers or the system (never installed here), run in
# the benchmark's private network namespace, and what every benchmark does before it measures.

# bench_isolate ARG...: runs the calling script again with ARGs, once, without the right to set the clock, in
# network and mount namespaces of its own.
bench_isolate() {
  [ "${HOROLAN_BENCH_INSIDE:-}" = 1 ] && return 0
  exec env HOROLAN_BENCH_INSIDE=1 setpriv --bounding-set -sys_time --inh-caps -sys_time \
    unshare -n -m --propagation private bash "$0" "$@"
}

# bench_ntpsec PEERS: the unpacked SNTP clients of ntpsec (ntpdig, ntpdate) on PATH, with their Python modules.
bench_ntpsec() {
  [ -d "$1/ntpsec/usr/bin" ] || return 0
  export PATH=$1/ntpsec/usr/bin:$1/ntpsec/usr/sbin:$PATH
  export PYTHONPATH=$1/ntpsec/usr/lib/python3/dist-packages
}

# bench_side_by_side BUILD_DIR RUNS [OTHER...]: what the benchmarks that run other clients beside ours do first: the
# unpacked peers ($peers, $chronyd, ntpsec's clients), then the namespace (bench_isolate).
bench_side_by_side() {
  peers=$1/peers
  chronyd=$(bench_chronyd "$1")
  bench_ntpsec "$peers"
  bench_isolate "$@"
}

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

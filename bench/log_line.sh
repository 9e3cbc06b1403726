#!/usr/bin/env bash
# What the system log line costs a whole silent SNTP run that sets the
# (virtual) clock: each horolan given runs with and without --no-syslog
# (an executable without that option: as it is), block by block, against
# chronyd on 127.0.0.1:123 in a private network and mount namespace, with a
# private /dev whose /dev/log is a datagram socket read by a listener (as
# journald's is). Prints the median and the fastest wall time of each.
#
#   bench/log_line.sh BUILD_DIR RUNS HOROLAN [HOROLAN...]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:?usage: log_line.sh BUILD_DIR RUNS HOROLAN...}")
runs=${2:?runs}
source bench/chrony.sh
chronyd=$(bench_chronyd "$build")
bench_isolate "$build" "$runs" "${@:3}"

work=$(mktemp -d /tmp/horolan-bench.XXXXXX)
trap 'kill $chrony $listener 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
ip link set lo up
cc -O2 -o "$work/measure" bench/measure.c
# A tmpfs over /dev in this namespace only, its nodes made anew (never a bind
# of the machine's /dev).
mount -t tmpfs -o mode=755 none /dev
for node in null:3 zero:5 full:7 random:8 urandom:9; do mknod -m 666 "/dev/${node%:*}" c 1 "${node#*:}"; done
ln -s /proc/self/fd /dev/fd
python3 -c 'import socket
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM); s.bind("/dev/log")
while True: s.recv(4096)' &
listener=$!
start_bench_chrony "$chronyd" "$work"
for _ in $(seq 100); do [ -S /dev/log ] && break; sleep 0.1; done
echo 0 > "$work/offset"
export XDG_CACHE_HOME=$work/cache XDG_STATE_HOME=$work/state LD_PRELOAD=$build/bin/libhorolan_vclock.so \
  HOROLAN_VCLOCK_FILE=$work/offset
names=() commands=()
for exe in "${@:3}"; do
  exe=$(realpath "$exe")
  names+=("$exe") commands+=("$exe --silent --sntp --server=127.0.0.1")
  if "$exe" --help | grep -q -- --no-syslog; then
    names+=("$exe --no-syslog") commands+=("$exe --silent --sntp --server=127.0.0.1 --no-syslog")
  fi
done
for _ in $(seq 100); do "$work/measure" 1 ${commands[0]} | awk '{exit $3}' && break; sleep 0.1; done
# Blocks of 10 runs of one command in turn, the first of each block left out:
# a run right after another executable's pays for bringing its own back in
# (some 20 ms here), which would hide what is measured.
for _ in $(seq $(((runs + 8) / 9))); do
  for i in "${!commands[@]}"; do "$work/measure" 10 ${commands[$i]} | tail -n 9 >> "$work/runs.$i"; done
done
for i in "${!commands[@]}"; do
  sort -n "$work/runs.$i" | awk -v name="${names[$i]}" '{a[NR] = $1; bad += $3 != 0}
    END {printf "%8.3f ms median %8.3f ms fastest  %s%s\n", a[int((NR + 1) / 2)] / 1000, a[1] / 1000, name,
         bad ? " (" bad " runs failed)" : ""}'
done

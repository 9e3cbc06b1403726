# What a run holds while it waits for a server, read from outside in /proc/PID/status: for a silent SNTP server
# and for a daytime server that never answers. This script runs as root without CAP_SYS_TIME (in_namespace.sh), so
# the run, which keeps only that capability, holds none at all.
source "$(dirname "$0")/lib.sh"
install_app

# Peers that take a request and never answer; each request is noted in $WORK/asked.
python3 - "$WORK/asked" <<'PY' &
import select, socket, sys
udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
udp.bind(("127.0.0.1", 123))
tcp = socket.create_server(("127.0.0.1", 13))
held = []
while True:
    for ready in select.select([udp, tcp], [], [])[0]:
        if ready is udp: udp.recv(512)
        else: held.append(tcp.accept()[0])
        open(sys.argv[1], "a").write("sntp\n" if ready is udp else "daytime\n")
PY
PIDS+=($!)
wait_until bash -c "ss -uln | grep -q '127.0.0.1:123 ' && ss -tln | grep -q '127.0.0.1:13 '" ||
  skip "the silent peers did not start"
(( 0x$(awk '/CapEff/ {print $2}' /proc/self/status) )) || skip "the script holds no capabilities to drop"

field() { awk -v name="$1:" '$1 == name {print $2}' "$WORK/held"; }
# held WHAT ARG...: starts a run, and once the peer has its request copies what the run holds to $WORK/held.
held() {
  : > "$WORK/asked"
  run "${@:2}" &
  local runner=$! pid
  wait_until grep -qx "$1" "$WORK/asked" && pid=$(pgrep -P "$runner") &&
    grep -E 'Cap|NoNewPrivs|Seccomp' "/proc/$pid/status" > "$WORK/held"
  kill "$pid" 2>/dev/null
  wait "$runner"
}

for what in sntp daytime; do
  rm -f "$WORK/held"
  if [ $what = sntp ]; then held sntp --sntp --server=127.0.0.1; else held daytime --server=127.0.0.1:13; fi
  check "$what: no capability held, inheritable or ambient" eval '[ -s "$WORK/held" ] &&
    [ "$(field CapPrm)$(field CapEff)$(field CapInh)$(field CapAmb)" = "$(printf '0%.0s' {1..64})" ]'
  check "$what: no new privileges, a system-call filter" eval '[ "$(field NoNewPrivs)$(field Seccomp)" = 12 ]'
done

finish

# What a run holds while it waits for a silent SNTP or daytime server, read from outside in /proc/PID/status. The
# scripts run as root without CAP_SYS_TIME (in_namespace.sh): the run, which keeps only that capability, holds none.
source "$(dirname "$0")/lib.sh"
install_app
(( 0x$(awk '/CapEff/ {print $2}' /proc/self/status) )) || skip "the script holds no capabilities to drop"
# Peers that never read a datagram nor accept a connection: the run's request stays in their queue.
silent_peer udp 127.0.0.1 123 && silent_peer tcp 127.0.0.1 13 || skip "the silent peers did not start"
queued() { ss -Hln "--$1" "sport = :$2" | awk '$2 > 0 {found = 1} END {exit !found}'; }  # queued tcp|udp PORT

for peer in "udp 123 --sntp --server=127.0.0.1" "tcp 13 --server=127.0.0.1:13"; do
  set -- $peer
  : > "$WORK/held"
  run "${@:3}" & runner=$!
  wait_until queued "$1" "$2" && pid=$(pgrep -P "$runner") && grep -E 'Cap|NoNewPrivs|Seccomp' "/proc/$pid/status" > "$WORK/held"
  kill "$pid" 2>/dev/null; wait "$runner"
  held=$(awk '$1 ~ /^(Cap(Inh|Prm|Eff|Amb)|NoNewPrivs|Seccomp):$/ {printf "%s", $2}' "$WORK/held")
  check "$1 $2: no capability held, inheritable or ambient; no new privileges; the system-call filter" \
    [ "$held" = "$(printf '0%.0s' {1..64})12" ]
done
finish

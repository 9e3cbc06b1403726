# What a run holds while it waits for a silent SNTP or daytime server, read from outside in /proc/PID/status. The
# scripts run as root without CAP_SYS_TIME (in_namespace.sh): the run, which keeps only that capability, holds none.
source "$(dirname "$0")/lib.sh"
install_app
(( 0x$(awk '/CapEff/ {print $2}' /proc/self/status) )) || skip "the script holds no capabilities to drop"
# Peers that never read a datagram nor accept a connection: the run's request stays in their queue.
silent_peer udp 127.0.0.1 123 && silent_peer tcp 127.0.0.1 13 || skip "the silent peers did not start"
queued() { ss -Hln "--$1" "sport = :$2" | awk '$2 > 0 {found = 1} END {exit !found}'; }  # queued tcp|udp PORT

held() {
  awk '$1 ~ /^(Cap(Inh|Prm|Eff|Amb)|NoNewPrivs|Seccomp):$/ {printf "%s", $2}' "/proc/$1/status"
}
user_of() { awk '$1 == "Uid:" {print $2 $3 $4 $5}' "/proc/$1/status"; }
none_held="$(printf '0%.0s' {1..64})12"
nobody=$(id -u horolan 2>/dev/null || id -u nobody)  # the network part's user
for peer in "udp 123 --sntp --server=127.0.0.1" "tcp 13 --server=127.0.0.1:13"; do
  set -- $peer
  set_offset_seconds 100
  run "${@:3}" & runner=$!
  # The run (privileged part) and its network part, which holds the socket to the silent peer.
  wait_until queued "$1" "$2" && pid=$(pgrep -P "$runner") && part=$(pgrep -P "$pid")
  check "$1 $2: the run holds no capability here, no new privileges, the system-call filter" \
    [ "$(held "$pid")" = "$none_held" ]
  check "$1 $2: its network part: nobody, no capability, no new privileges, the filter" \
    [ "$(user_of "$part")$(held "$part")" = "$nobody$nobody$nobody$nobody$none_held" ]
  check "$1 $2: only the network part holds a network socket" \
    eval 'ss -tuanpH | grep -q "pid=$part," && ! ss -tuanpH | grep -q "pid=$pid,"'
  kill -9 "$part"; wait "$runner"
  LAST=FCFFFFFF ERR="was ended by signal 9" \
    check "$1 $2: a killed network part: its own code, the clock kept" \
    eval '[ "$(status)" = 252 ] && [ "$(offset_ns)" = 100000000000 ] && says'
done
finish

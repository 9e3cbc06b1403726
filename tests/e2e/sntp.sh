# The SNTP run of the real executable against chronyd on loopback port 123, a silent server and an unknown host.
source "$(dirname "$0")/lib.sh"
install_app
start_ready_chrony

# A clock 100 s ahead is stepped to chronyd's (the real clock) by a relative step, never set to a calendar time
# (which the shim refuses here): to within 0.1 s (the run may be preempted).
RUN_ENV=(HOROLAN_VCLOCK_REFUSE=set)
LAST=00000000 expect "clock 100 s ahead" 0 set '#SNTP' '#SERVER(127.0.0.1)'
RUN_ENV=()
check "clock 100 s ahead: stepped to within 0.1 s, the message names the server and says the clock was set" \
  eval '[ "$(abs "$(offset_ns)")" -lt 100000000 ] && grep -qx "Server 127.0.0.1" "$WORK/out" && grep -qx "Time sync with device." "$WORK/out"'

# An hour off (and more, so that millisecond rounding cannot bring it under the limit): -2, the clock unchanged.
LAST=FEFFFFFF OUT="Very big local clock offset" START_SECONDS=3605 expect "an hour off" 254 kept --sntp --server 127.0.0.1

expect "show-only" 0 kept '#sntp' '#onlyshow' '#SERVER(ntp.e2e.test)'
shown=$(sed -n 's/^\([0-9/]* [0-9:]*\) UTC$/\1/p' "$WORK/out")
shown_s=$(date -u -d "${shown//\//-}" +%s 2>/dev/null || echo 0)
check "show-only: no 'Time sync' line, the server's time (within 2 s of the real clock)" \
  eval '! out_has "Time sync" && [ "$(abs $((shown_s - $(date +%s))))" -le 2 ]'

# Refused by the clock: the last-error value (EPERM) is the code.
RUN_ENV=(HOROLAN_VCLOCK_REFUSE=1)
LAST=01000000 expect "clock refuses" 1 kept --sntp --server=127.0.0.1
RUN_ENV=()
stop_chrony

# An unsynchronised server (leap indicator 3, stratum 0) is refused: -1.
start_chrony unsynchronised
answered() { run --sntp --server=127.0.0.1; [[ ! "$(status)" =~ ^(77|70|76)$ ]]; }  # 10061 refused, 10054 reset, 10060
wait_until answered
check "unsynchronised server: exit 255, clock untouched" eval '[ "$(status)" = 255 ] && [ "$(offset_ns)" = 100000000000 ]'
stop_chrony

# Across the end of NTP era 0 (2036-02-07 06:28:16), either way: a fake server sends a stray datagram (another
# originate), then the answer $WORK/delta seconds off the request's time. The stray is dropped.
background python3 - "$WORK/delta" <<'PY'
import socket, sys
(s := socket.socket(socket.AF_INET, socket.SOCK_DGRAM)).bind(("127.0.0.1", 123))
while True:
    q, peer = s.recvfrom(512)
    t = ((int.from_bytes(q[40:48], "big") + (int(open(sys.argv[1]).read()) << 32)) % 2**64).to_bytes(8, "big")
    for originate in (bytes(8), q[40:48]): s.sendto(b"\x24\x02" + bytes(22) + originate + t + t, peer)
PY
wait_until listening udp 123
era() { set_offset_seconds $(($(date -u -d "2036-02-07 $1" +%s) - $(date +%s))) && echo "$2" > "$WORK/delta"; }
era 06:28:14 5
run --sntp --server=127.0.0.1 --only-show
check "show-only, the clock before the era's end, the server after it" eval '[ "$(status)" = 0 ] && out_has "2036/02/07 06:28:"'
era 06:28:20 -5
before=$(offset_ns)
run --sntp --server=127.0.0.1
check "the clock after the era's end, the server before it: set 5 s back" eval '[ "$(status)" = 0 ] && [ "$(abs $(($(offset_ns) - before + 5000000000)))" -lt 500000000 ]'
kill "${PIDS[-1]}" && wait "${PIDS[-1]}" 2>/dev/null

silent_peer udp 127.0.0.1 123
LAST=4C270000 OUT="Connection timed out" expect "silent server" 76 kept --sntp --server=127.0.0.1

udp_out() { awk '/^Udp:/ && ++n == 2 {print $5}' /proc/net/snmp; }
before=$(udp_out)
run --sntp --server=no-such-host.e2e.test
check "unknown host: exit status 249 (11001), message, no datagram sent" \
  eval '[ "$(status)" = 249 ] && out_has "Unknown host" && [ "$(udp_out)" = "$before" ] &&
    grep -qxF "horolan: no-such-host.e2e.test: Name or service not known (11001)" "$WORK/err"'
run --silent --sntp --server=no-such-host.e2e.test
check "silent: a failure writes nothing" eval '[ "$(status)" = 249 ] && [ ! -s "$WORK/out" ] && [ ! -s "$WORK/err" ]'
finish

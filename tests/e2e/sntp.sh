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

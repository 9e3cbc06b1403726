# The SNTP run of the real executable against chronyd on loopback port 123.
source "$(dirname "$0")/lib.sh"
install_app

start_ready_chrony

# A clock 100 s ahead is corrected to within 10 ms.
set_offset_seconds 100
run '#SNTP' '#SERVER(127.0.0.1)'
check "clock 100 s ahead: exit 0" [ "$(status)" = 0 ]
check "clock 100 s ahead: corrected to within 10 ms" [ "$(abs "$(offset_ns)")" -lt 10000000 ]
check "success message names the server and says the clock was set" \
  bash -c "grep -qx 'Server 127.0.0.1' '$WORK/out' && grep -qx 'Time sync with device.' '$WORK/out'"
check "LastResult 0" [ "$(last_result)" = 00000000 ]

# An hour off (and a little more, so that rounding to the millisecond cannot
# bring the measured offset under the limit): -2, the clock unchanged.
set_offset_seconds 3605
run --sntp --server 127.0.0.1
check "an hour off: exit status 254" [ "$(status)" = 254 ]
check "an hour off: clock untouched" [ "$(offset_ns)" = 3605000000000 ]
check "an hour off: LastResult FE FF FF FF" [ "$(last_result)" = FEFFFFFF ]
check "an hour off: message" out_has "Very big local clock offset"

# Show-only: the server's time is shown and the clock stays.
set_offset_seconds 100
run '#sntp' '#onlyshow' '#SERVER(ntp.e2e.test)'
shown=$(sed -n 's/^\([0-9/]* [0-9:]*\) UTC$/\1/p' "$WORK/out")
real=$(date -u +%s)
shown_s=$(date -u -d "${shown//\//-}" +%s 2>/dev/null || echo 0)
check "show-only: exit 0, clock untouched" eval '[ "$(status)" = 0 ] && [ "$(offset_ns)" = 100000000000 ]'
check "show-only: the server's time is shown (within 2 s of the real clock)" [ "$(abs $((shown_s - real)))" -le 2 ]
check "show-only: no 'Time sync' line" bash -c "! grep -q 'Time sync' '$WORK/out'"

# Refused by the clock: the last-error value (EPERM) is the code.
set_offset_seconds 100
RUN_ENV=(HOROLAN_VCLOCK_REFUSE=1)
run --sntp --server=127.0.0.1
RUN_ENV=()
check "clock refuses: exit 1, LastResult 01000000" eval '[ "$(status)" = 1 ] && [ "$(last_result)" = 01000000 ]'
check "clock refuses: clock untouched" [ "$(offset_ns)" = 100000000000 ]
stop_chrony

# An unsynchronised server (leap indicator 3, stratum 0) is refused: -1.
start_chrony no
set_offset_seconds 100
answered() { run --sntp --server=127.0.0.1 --silent; [ "$(status)" != 61 ] && [ "$(status)" != 54 ]; }
wait_until answered
check "unsynchronised server: exit 255, clock untouched" eval '[ "$(status)" = 255 ] && [ "$(offset_ns)" = 100000000000 ]'
stop_chrony

# A silent server: 10060 after the 5 s wait, exit status 76.
python3 -c 'import socket,time; s=socket.socket(socket.AF_INET,socket.SOCK_DGRAM); s.bind(("127.0.0.1",123)); time.sleep(60)' &
PIDS+=($!)
wait_until bash -c "ss -uln | grep -q '127.0.0.1:123 '"
run --sntp --server=127.0.0.1
check "silent server: exit status 76" [ "$(status)" = 76 ]
check "silent server: message" out_has "Connection timed out"
check "silent server: LastResult 4C270000" [ "$(last_result)" = 4C270000 ]

# An unknown host: 11001, no datagram.
run --sntp --server=no-such-host.e2e.test
check "unknown host: exit status 249 (11001)" [ "$(status)" = 249 ]
check "unknown host: message" out_has "Unknown host"

finish

# The daytime run of the real executable against the fake NIST daytime
# server on port 13 (HTTP/0.9) and against lighttpd serving a NIST line.
source "$(dirname "$0")/lib.sh"
install_app

NIST_LINE=$'\n54800 08-11-30 12:34:56 00 0 0 50.0 UTC(NIST) * \n'
"$BIN/nist_daytime_server" --port 13 "$NIST_LINE" >"$WORK/daytime13.log" 2>&1 &
PIDS+=($!)
"$BIN/nist_daytime_server" --port 1313 $'\nTue Dec  6 19:00:00 2026\n' >"$WORK/plain.log" 2>&1 &
PIDS+=($!)
wait_until bash -c "ss -tln | grep -q '127.0.0.1:13 ' && ss -tln | grep -q '127.0.0.1:1313 '" ||
  skip "the daytime test server did not start"

virtual_date() {
  env LD_PRELOAD="$BIN/libhorolan_vclock.so" HOROLAN_VCLOCK_FILE="$WORK/offset" date -u '+%Y-%m-%d %H:%M'
}

# Port 13 over HTTP/0.9: the clock is set to the server's line.
set_offset_seconds 0
run '#SERVER(daytime.e2e.test)'
check "NIST line on port 13: exit 0" [ "$(status)" = 0 ]
check "NIST line on port 13: the clock reads 2008-11-30 12:34" [ "$(virtual_date)" = "2008-11-30 12:34" ]
check "NIST line on port 13: message shows the server and the time" \
  eval 'out_has "Server daytime.e2e.test:13" && out_has "2008/11/30 12:34:5"'
check "NIST line on port 13: LastResult 0" [ "$(last_result)" = 00000000 ]

# Show-only leaves the clock.
set_offset_seconds 0
run --nist --only-show --server=daytime.e2e.test
check "show-only: exit 0, clock untouched" eval '[ "$(status)" = 0 ] && [ "$(offset_ns)" = 0 ]'

# An answer without "NIST": -3, clock untouched.
run '#SERVER(127.0.0.1:1313)'
check "no NIST in the answer: exit status 253, clock untouched" eval '[ "$(status)" = 253 ] && [ "$(offset_ns)" = 0 ]'
check "no NIST in the answer: error line and empty last line" eval 'out_has "Error -3" && [ -z "$(tail -n 1 "$WORK/out")" ]'

# lighttpd serving a NIST line, and 404 for a missing file.
if [ -x /usr/sbin/lighttpd ]; then
  mkdir -p "$WORK/www"
  printf '%s' "$NIST_LINE" > "$WORK/www/nist.txt"
  cat > "$WORK/lighttpd.conf" <<CONF
server.document-root = "$WORK/www"
server.bind = "127.0.0.1"
server.port = 8013
server.pid-file = "$WORK/lighttpd.pid"
server.errorlog = "$WORK/lighttpd.err"
mimetype.assign = ( "" => "text/plain" )
CONF
  /usr/sbin/lighttpd -D -f "$WORK/lighttpd.conf" &
  PIDS+=($!)
  wait_until bash -c "ss -tln | grep -q '127.0.0.1:8013 '"
  set_offset_seconds 0
  run '#SERVER(http://127.0.0.1:8013/nist.txt)'
  check "lighttpd NIST line: exit 0, clock at 2008-11-30" eval '[ "$(status)" = 0 ] && [ "$(virtual_date)" = "2008-11-30 12:34" ]'
  set_offset_seconds 0
  run '#SERVER(http://127.0.0.1:8013/missing.txt)'
  check "lighttpd 404: exit status 5 (0x800C0005), message" eval '[ "$(status)" = 5 ] && out_has "Resource not found"'
  check "lighttpd 404: LastResult 05000C80" [ "$(last_result)" = 05000C80 ]
else
  echo "SKIPPED part: lighttpd is not installed"
fi

finish

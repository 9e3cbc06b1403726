# The NTS module end to end against chronyd as an NTS server: the test client
# (bin/nts_client) does the key exchange and one authenticated NTP exchange.
source "$(dirname "$0")/../../e2e/lib.sh"
source "$(dirname "$0")/../../e2e/nts_peer.sh"
CLIENT=$BIN/nts_client
PKI=$WORK/pki
make_nts_ca "$PKI" || skip "openssl cannot make the test CA"
# chronyd names 127.0.0.2:11123 as its NTP server: a relay there (the man in
# the middle) forwards to its real port.
start_nts_chrony "$PKI" "port 11123" "ntsntpserver 127.0.0.2"

# Runs the client; status in $WORK/status, output in $WORK/out.
client() {
  env SSL_CERT_FILE="${TRUST:-$PKI/ca.pem}" SSL_CERT_DIR=/nonexistent "$CLIENT" "$@" >"$WORK/out" 2>"$WORK/err"
  echo $? > "$WORK/status"
}
relay() {
  [ -n "${RELAY_PID:-}" ] && kill "$RELAY_PID" 2>/dev/null && wait "$RELAY_PID" 2>/dev/null
  python3 "$NTS_RELAY" 127.0.0.2 11123 127.0.0.1 11123 "$1" &
  RELAY_PID=$!
  PIDS+=("$RELAY_PID")
  wait_until bash -c "ss -uln | grep -q '127.0.0.2:11123 '"
}
expect() {  # expect WHAT STATUS CLIENT-ARGS...
  local what=$1 want=$2
  shift 2
  client "$@"
  check "$what: status $want" [ "$(status)" = "$want" ]
}

relay pass
answered() { client 127.0.0.1; [ "$(status)" = 0 ]; }
wait_until answered
check "good run by address: verified, offset shown" out_has "offset "
check "good run: the server and port the key exchange named" out_has "NTP server 127.0.0.2 port 11123"
expect "good run by name (localhost)" 0 localhost
expect "good run by bracketed address" 0 "[127.0.0.1]"
expect "good run by IPv6 address" 0 "[::1]"
TRUST=$PKI/other-ca.pem expect "a CA we do not trust: untrusted (4)" 4 127.0.0.1
expect "a name the certificate is not for: mismatch (5)" 5 ntp.e2e.test
expect "nothing on the key-exchange port: no service (3)" 3 127.0.0.1 4461
expect "an unknown host (2)" 2 no-such-host.e2e.test

# TLS servers that are no NTS-KE service: TLS 1.3 without "ntske/1", TLS 1.2.
for variant in "-tls1_3" "-tls1_3 -alpn other/1" "-tls1_2"; do
  openssl s_server -quiet -accept 127.0.0.1:4462 -cert "$PKI/server.pem" -key "$PKI/server.key" $variant \
    </dev/null >/dev/null 2>&1 &
  pid=$!
  PIDS+=("$pid")
  wait_until bash -c "ss -tln | grep -q '127.0.0.1:4462 '"
  expect "TLS server $variant: no service (3)" 3 127.0.0.1 4462
  kill "$pid"; wait "$pid" 2>/dev/null
done

# A server that takes the connection and never answers: a time-out (10)
# within the limit asked for.
python3 -c 'import socket,time; s=socket.socket(); s.bind(("127.0.0.1",4463)); s.listen(); time.sleep(60)' &
PIDS+=($!)
wait_until bash -c "ss -tln | grep -q '127.0.0.1:4463 '"
started=$(date +%s%N)
expect "a silent server: time-out (10)" 10 127.0.0.1 4463 1000
elapsed_ms=$((($(date +%s%N) - started) / 1000000))
check "a silent server: given up after the 1 s limit (took $elapsed_ms ms)" [ "$elapsed_ms" -lt 3000 ]

# The man in the middle: the answer is refused (20 + the fault).
relay flip:1
expect "a bit flipped in the header: bad tag (28)" 28 127.0.0.1
relay flip:60
expect "a bit flipped in the Unique Identifier: wrong UID (25)" 25 127.0.0.1
relay flip:-1
expect "a bit flipped in the ciphertext: bad tag (28)" 28 127.0.0.1
relay strip
expect "extension fields stripped (22)" 22 127.0.0.1
relay replay
expect "replay: the first answer passes" 0 127.0.0.1
expect "replay: an earlier answer again is refused, wrong UID (25)" 25 127.0.0.1

finish

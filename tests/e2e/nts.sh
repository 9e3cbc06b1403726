# NTS runs of the real executable against chronyd as an NTS server with a test CA: only an authentic answer corrects
# the clock; every refusal leaves it as it was, with its own code, text and error line.
source "$(dirname "$0")/lib.sh"
install_app
cp "$BIN/libhorolan_nts.so" "$APP/"
unset SSL_CERT_FILE SSL_CERT_DIR
PKI=$WORK/pki
make_test_ca "$PKI" || skip "openssl cannot make the test CA"
# chronyd as the NTS server (key exchange on 127.0.0.1 and ::1, port 4460) names 127.0.0.2:11123 as its NTP server:
# a relay there (the man in the middle) forwards to its real port.
start_chrony synchronised "port 11123" "bindaddress ::1" "allow ::1" "ntsdumpdir $PKI" "ntsport 4460" \
  "ntsservercert $PKI/server.pem" "ntsserverkey $PKI/server.key" "ntsntpserver 127.0.0.2"
wait_until listening tcp 4460 || skip "chronyd did not start: $(tail -3 "$WORK/peers.log")"
RELAY=$(dirname "$0")/../tools/nts/udp_relay.py
relay() {  # relay MODE [LOG]
  [ -n "${RELAY_PID:-}" ] && kill "$RELAY_PID" && wait "$RELAY_PID" 2>/dev/null
  background python3 "$RELAY" 127.0.0.2 11123 127.0.0.1 11123 "$@"
  RELAY_PID=$!
  wait_until listening udp 11123 127.0.0.2
}
TRUSTED=(SSL_CERT_FILE="$PKI/ca.pem" SSL_CERT_DIR=/nonexistent)
RUN_ENV=("${TRUSTED[@]}")

relay pass
answers() { run --nts --server=127.0.0.1 --only-show --silent && [ "$(status)" = 0 ]; }
ready chronyd "$CHRONY_PID" answers
LAST=00000000 OUT="Time sync with device." expect "good run by address" 0 set --nts --server=127.0.0.1
expect "good run, key exchange over IPv6" 0 set --nts '--server=[::1]'
expect "good run by name, keywords" 0 set '#NTS' '#SERVER(localhost)'
printf '#NTS\n#SSERVER(127.0.0.1)\n' > "$APP/horolan.txt"
expect "good run, #NTS from the configuration file" 0 set
rm "$APP/horolan.txt"
# Trust from the system's store: its hashed folder, without the bundle file.
mount --bind "$PKI/hashed" /etc/ssl/certs || skip "cannot mount a private /etc/ssl/certs"
RUN_ENV=()
expect "good run, trusted through the system's hashed certificate folder" 0 set --nts --server=127.0.0.1
RUN_ENV=("${TRUSTED[@]}" LD_DEBUG=files)
run --sntp --server=127.0.0.1 --only-show
check "a plain SNTP run loads no TLS library" bash -c "! grep -q 'libssl' '$WORK/err'"
run --nts --server=127.0.0.1 --only-show
check "(an NTS run does)" err_has libssl

# Refused key exchanges: each its code, text and error line, the clock kept.
RUN_ENV=(SSL_CERT_FILE="$PKI/other-ca.pem" SSL_CERT_DIR=/nonexistent)
LAST=F8FFFFFF expect "a CA we do not trust" 248 kept --nts --server=127.0.0.1
check "untrusted: message, error line" eval 'out_has "Server certificate not trusted" &&
  err_has "horolan: NTS: certificate of 127.0.0.1: unable to get local issuer"'
RUN_ENV=("${TRUSTED[@]}")
OUT="Server certificate is for another server" expect "a name not in the certificate" 247 kept --nts --server=ntp.e2e.test
OUT="No NTS key exchange on the server" ERR="Connection refused" expect "no key-exchange service" 246 kept --nts --server=127.0.0.3
ip route add unreachable 127.0.0.6/32 table local  # no packet leaves: the connect fails at once
ERR="horolan: NTS: 127.0.0.6 port 4460: No route to host" expect "no route to the key exchange" 81 kept --nts --server=127.0.0.6
background openssl s_server -quiet -accept 127.0.0.4:4460 -cert "$PKI/server.pem" -key "$PKI/server.key" -tls1_3 \
  </dev/null >/dev/null 2>&1
silent_peer tcp 127.0.0.5 4460
wait_until listening tcp 4460 127.0.0.4
ERR=ntske/1 expect "a TLS 1.3 server without the NTS key exchange" 246 kept --nts --server=127.0.0.4
OUT="NTS key exchange timed out" expect "a key-exchange server that never answers" 241 kept --nts --server=127.0.0.5
ERR="NTS: no-such-host.e2e.test: Name or service not known" expect "an unknown host" 249 kept --nts --server=no-such-host.e2e.test
# Key exchanges that do not finish: the time-out code, nothing of them used.
ke_server() {
  local tool=$(dirname "$0")/../tools/nts/ke_server.py
  background python3 "$tool" "$1" "$PKI/server.pem" "$PKI/server.key" "$2"
  KE_PID=$!
  wait_until listening tcp 4460 "$1"
}
ke_server 127.0.0.7 silent && ke_server 127.0.0.8 unfinished && ke_server 127.0.0.9 no-end &&
  ke_server 127.0.0.10 names:no-such-host.e2e.test || skip "a hostile key exchange is not up"
OUT="NTS key exchange timed out" ERR="127.0.0.7 port 4460 within 5000 ms" \
  expect "a key-exchange server silent after the handshake" 241 kept --nts --server=127.0.0.7
ERR="127.0.0.8 port 4460 within 5000 ms" \
  expect "a key-exchange reply that never ends" 241 kept --nts --server=127.0.0.8
ERR="127.0.0.9 ended its key-exchange reply without its End record" \
  expect "a key-exchange reply closed before its End record" 241 kept --nts --server=127.0.0.9
ERR="NTP server no-such-host.e2e.test named by the key exchange: Name or service not known" \
  expect "the NTP server it names does not resolve" 249 kept --nts --server=127.0.0.10
# A name service that never answers (30 s): the lookup ends with the key exchange's 5 s limit, "try again" (11002).
silent_peer udp 127.0.0.53 53
printf 'nameserver 127.0.0.53\noptions timeout:30 attempts:1\n' > "$WORK/resolv.conf"
mount --bind "$WORK/resolv.conf" /etc/resolv.conf || skip "cannot mount a private /etc/resolv.conf"
printf 'hosts: files dns\n' > "$WORK/nsswitch.conf"
started=$(date +%s%N)
expect "a name service that does not answer" 250 kept --nts --server=silent.e2e.test
elapsed_ms=$((($(date +%s%N) - started) / 1000000))
check "the lookup is given up with the key exchange (took $elapsed_ms ms of 30000)" [ "$elapsed_ms" -lt 15000 ]
kill "$KE_PID" && wait "$KE_PID" 2>/dev/null; ke_server 127.0.0.10 names:silent.e2e.test
ERR="NTP server silent.e2e.test named by the key exchange: Temporary failure" \
  expect "the NTP server it names: looked up by its deadline" 250 kept --nts --server=127.0.0.10
printf 'hosts: files\n' > "$WORK/nsswitch.conf"
mv "$APP/libhorolan_nts.so" "$WORK/"
OUT="NTS is not available" expect "no NTS module" 239 kept --nts --server=127.0.0.1
mv "$WORK/libhorolan_nts.so" "$APP/"

# The man in the middle: nothing but the authentic answer is used.
relay junk
expect "a forged datagram before the authentic answer" 0 set --nts --server=127.0.0.1
for mode in flip:1 strip; do
  relay "$mode"
  expect "answer changed ($mode)" 255 kept --nts --server=127.0.0.1
done
check "answer changed: message, error line" eval 'out_has "Unknown answer from server" && err_has "stripped"'
relay replay
expect "replay: the first answer" 0 set --nts --server=127.0.0.1
ERR=replayed expect "replay: the same answer again" 255 kept --nts --server=127.0.0.1
relay drop
expect "no answer" 76 kept --nts --server=127.0.0.1

# A delay attack: answers held back are refused, however authentic; one held alone is resent past.
relay hold:1.5
OUT="Round-trip delay over the limit" ERR="over the limit of 1 s (error bound" \
  expect "every answer held 1.5 s" 233 kept --nts --server=127.0.0.1
relay hold-first:1.5
expect "only the first answer held: the resend's answer" 0 set --nts --server=127.0.0.1
# Lost requests are sent again, each time with a cookie of its own.
relay lose:1 "$WORK/cookies"
expect "the first request lost: the resend answered" 0 set --nts --server=127.0.0.1
check "two requests, two cookies" eval '[ "$(sort -u "$WORK/cookies" | grep -vc none)" = 2 ] &&
  [ "$(wc -l < "$WORK/cookies")" = 2 ]'

finish

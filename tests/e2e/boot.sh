# A clock far off at the first sync: NTS against chronyd and daytime over https, certificates made days before; the
# step limit and its way past, the time floor (build, last authenticated run) and the certificate dates.
source "$(dirname "$0")/lib.sh"
install_app
cp "$BIN/libhorolan_nts.so" "$APP/"
unset SSL_CERT_FILE SSL_CERT_DIR CURL_CA_BUNDLE
PKI=$WORK/pki && mkdir -p "$PKI"
SHIM=(env LD_PRELOAD="$BIN/libhorolan_vclock.so")
DAY=86400 YEARS2=63072000
# made_at DAYS COMMAND...: COMMAND on a clock DAYS days off (certificates dated then).
made_at() { echo $(($1 * DAY * 1000000000)) > "$WORK/then" && "${SHIM[@]}" HOROLAN_VCLOCK_FILE="$WORK/then" "${@:2}"; }
KEY=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
made_at -30 openssl req -x509 "${KEY[@]}" -keyout "$PKI/ca.key" -out "$PKI/ca.pem" -days 400 -subj /CN=boot-ca \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign 2>/dev/null || skip "openssl"
printf 'subjectAltName=IP:127.0.0.1,IP:127.0.0.2,IP:127.0.0.3,IP:127.0.0.4\n' > "$PKI/ext"
# cert NAME DAYS_AGO DAYS: a server certificate made DAYS_AGO days before now, valid for DAYS days.
cert() {
  made_at "-$2" openssl req "${KEY[@]}" -keyout "$PKI/$1.key" -out "$PKI/$1.csr" -subj /CN=boot 2>/dev/null &&
    made_at "-$2" openssl x509 -req -in "$PKI/$1.csr" -CA "$PKI/ca.pem" -CAkey "$PKI/ca.key" -CAcreateserial \
      -days "$3" -extfile "$PKI/ext" -out "$PKI/$1.pem" 2>/dev/null
}
cert good 3 90 && cert expired 10 9 && cert future -1 30 || skip "openssl cannot make the certificates"
RUN_ENV=(SSL_CERT_FILE="$PKI/ca.pem" SSL_CERT_DIR=/nonexistent)

# chronyd serving NTS on ADDRESS with CERT, its clock moved by PEER_IN; 127.0.0.4 serves a time three years past.
nts_server() {
  mkdir -p "$WORK/$1" && printf '%s\n' "port 123" "bindaddress $1" "allow 127.0.0.0/8" "cmdport 0" "local stratum 8" \
    "pidfile $WORK/$1/pid" "ntsdumpdir $WORK/$1" "ntsservercert $PKI/$2.pem" "ntsserverkey $PKI/$2.key" > "$WORK/$1/conf"
  start_peer chronyd -x -d -u root -f "$WORK/$1/conf" || skip "chronyd is not installed"
}
nts_server 127.0.0.1 good && nts_server 127.0.0.2 expired && nts_server 127.0.0.3 future
echo $((-3 * 365 * DAY * 1000000000)) > "$WORK/past"
PEER_IN=("${SHIM[@]}" HOROLAN_VCLOCK_FILE="$WORK/past")
nts_server 127.0.0.4 good
PEER_IN=()
# Daytime over http (8013) and https (8443 good, 8444 expired, 8445 future): the line of now plus /SECONDS.
background python3 - "$PKI" <<'PY'
import socket, ssl, sys, threading, time
def serve(port, cert):
    server = socket.create_server(("127.0.0.1", port))
    context = None
    if cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(f"{sys.argv[1]}/{cert}.pem", f"{sys.argv[1]}/{cert}.key")
    while True:
        client = server.accept()[0]
        try:
            client = context.wrap_socket(client, server_side=True) if context else client
            request = b""
            while b"\r\n\r\n" not in request:
                request += client.recv(4096) or b"\r\n\r\n"
            t = time.gmtime(time.time() + int(request.split(b" ")[1][1:] or 0))
            line = time.strftime("\n61000 %y-%m-%d %H:%M:%S 00 0 0 50.0 UTC(NIST) * \n", t).encode()
            client.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n" % len(line) + line)
            client.close()
        except (OSError, ValueError):
            client.close()
for port, cert in ((8013, ""), (8443, "good"), (8444, "expired"), (8445, "future")):
    threading.Thread(target=serve, args=(port, cert), daemon=True).start()
time.sleep(300)
PY
wait_until listening tcp 8445 || skip "the daytime server did not start"
answers() { run --nts --server=127.0.0.1 --only-show --silent && [ "$(status)" = 0 ]; }
for address in 127.0.0.1 127.0.0.2 127.0.0.3 127.0.0.4; do
  wait_until listening tcp 4460 "$address" || skip "chronyd did not start: $(tail -3 "$WORK/peers.log")"
done
ready chronyd "${PIDS[-2]}" answers

# try WHAT START STATUS set|kept ARG...: a run from a clock START seconds off ends with STATUS, the clock set (within
# 2 s) or kept; [ERR=TEXT] in its error line.
try() {
  local want=$3 clock=$4 start=$2
  set_offset_seconds "$start"
  run "${@:5}"
  local now=kept
  [ "$(offset_ns)" = $((start * 1000000000)) ] || now=moved
  [ "$(abs "$(offset_ns)")" -lt 2000000000 ] && [ "$now" = moved ] && now=set
  check "$1, clock $start s off, ${*:5}: $want, $clock${ERR:+, says $ERR}" \
    eval '[ "$(status)" = "$want" ] && [ "$now" = "$clock" ] && { [ -z "${ERR:-}" ] || err_has "$ERR"; }'
}
BUILT=$(sed -n 's/#define HOROLAN_BUILD_TIME //p' "$BIN/../generated/app/build_time.h")
BEFORE_BUILD=$((BUILT - DAY - $(date +%s)))
HTTPS=https://127.0.0.1:8443/0
for start in -$YEARS2 -7200 -3540 7200 $BEFORE_BUILD; do
  limited=254 clock=kept way="--max-step=any"
  [ "${start#-}" -lt 3600 ] && limited=0 clock=set way=""
  ERR=$way try "NTS" "$start" "$limited" "$clock" --nts --server=127.0.0.1
  try "NTS" "$start" 0 set --nts --server=127.0.0.1 --max-step=any
  try "daytime over https (no limit of its own)" "$start" 0 set "--server=$HTTPS"
  try "SNTP" "$start" "$limited" "$clock" --sntp --server=127.0.0.1
done
printf '#SNTP\n#MAXSTEP(ANY)\n' > "$APP/horolan.txt"
try "SNTP, #MAXSTEP(ANY) in the configuration file" -$YEARS2 0 set --server=127.0.0.1
rm "$APP/horolan.txt"
try "daytime over https with --max-step" 7200 254 kept "--server=$HTTPS" --max-step=3600

# Certificates: expired by the time checked, not valid at the time the server gives; each its code and words.
for start in 0 -$YEARS2; do
  ERR="Server certificate expired (-20)" try "NTS, certificate expired yesterday" "$start" 236 kept \
    --nts --server=127.0.0.2 --max-step=any
  ERR="before its certificate is valid" try "NTS, certificate valid from tomorrow" "$start" 237 kept \
    --nts --server=127.0.0.3 --max-step=any
  try "daytime over https, certificate expired yesterday" "$start" 236 kept --server=https://127.0.0.1:8444/0
  [ "$start" = 0 ] && cp "$WORK/err" "$WORK/expired.err"
  try "daytime over https, certificate valid from tomorrow" "$start" 237 kept --server=https://127.0.0.1:8445/0
done
check "the expired certificate: the local clock may be wrong" grep -q "local clock may be wrong: certificate of 127.0.0.1 expired" \
  "$WORK/expired.err"
# A time before the floor is refused in every mode, also only shown.
ERR="before the earliest time possible" try "NTS, a server three years past" 100 238 kept --nts --server=127.0.0.4 \
  --max-step=any
try "SNTP, a server three years past" 100 238 kept --sntp --server=127.0.0.4 --max-step=any --only-show
try "daytime over https, three years past" 100 238 kept "--server=https://127.0.0.1:8443/-$((3 * 365 * DAY))"
try "daytime over http, three years past" 100 238 kept "--server=http://127.0.0.1:8013/-$((3 * 365 * DAY))"
# The last authenticated run raises the floor; an answer before it, later than the build, is refused.
try "NTS" 100 0 set --nts --server=127.0.0.1
floor=$(sqlite3 "$WORK/state/horolan/registry.db" "SELECT hex(data) FROM registry WHERE value = 'LastSuccess'")
check "LastSuccess kept beside LastResult, after the build ($floor)" \
  [ $((0x${floor:6:2}${floor:4:2}${floor:2:2}${floor:0:2})) -gt "$BUILT" ]
ERR="before the earliest time possible" try "daytime over http, 30 s before the last run" 100 238 kept \
  --server=http://127.0.0.1:8013/-30
finish

# A clock far off at the first sync: NTS, https daytime, the step limit, time floor and cert dates.
source "$(dirname "$0")/lib.sh"
install_app && cp "$BIN/libhorolan_nts.so" "$APP/" && mkdir -p "$WORK/pki" "$WORK/web"
unset SSL_CERT_FILE SSL_CERT_DIR CURL_CA_BUNDLE
PKI=$WORK/pki DAY=86400 YEARS2=63072000
SHIM=(env LD_PRELOAD="$BIN/libhorolan_vclock.so" HOROLAN_VCLOCK_FILE="$WORK/then")
KEY=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout)
# made_at DAYS NAME ARG...: openssl on a clock DAYS days off (its certificates dated then).
made_at() { echo $(($1 * DAY))000000000 > "$WORK/then" && "${SHIM[@]}" openssl "${@:3}" \
  -out "$PKI/$2" 2>/dev/null; }
made_at -30 ca.pem req -x509 "${KEY[@]}" "$PKI/ca.key" -days 400 -subj /CN=ca || skip "no openssl"
echo "subjectAltName=IP:127.0.0.1,IP:127.0.0.2,IP:127.0.0.3,IP:127.0.0.4" > "$PKI/ext"
for cert in good:-3:90 expired:-10:9 future:1:30; do  # made N days off, valid for M days
  IFS=: read -r name made days <<< "$cert"
  made_at "$made" "$name.csr" req "${KEY[@]}" "$PKI/$name.key" -subj /CN=b &&
    made_at "$made" "$name.pem" x509 -req -in "$PKI/$name.csr" -CA "$PKI/ca.pem" -CAkey \
      "$PKI/ca.key" -CAcreateserial -days "$days" -extfile "$PKI/ext" || skip "no certificates"
done
RUN_ENV=(SSL_CERT_FILE="$PKI/ca.pem" SSL_CERT_DIR=/nonexistent)
# chronyd with NTS on 127.0.0.1 to .3 by certificate, and on .4 with a clock three years past.
echo $((-3 * 365 * DAY))000000000 > "$WORK/past"
for server in 1:good 2:expired 3:future 4:good; do
  [ "${server%:*}" = 4 ] && PEER_IN=("${SHIM[@]}" HOROLAN_VCLOCK_FILE="$WORK/past")
  printf '%s\n' "port 123" "bindaddress 127.0.0.${server%:*}" "allow 127.0.0.0/8" "cmdport 0" \
    "local stratum 8" "ntsdumpdir $WORK" "ntsservercert $PKI/${server#*:}.pem" \
    "ntsserverkey $PKI/${server#*:}.key" "pidfile $WORK/$server.pid" > "$WORK/$server.conf"
  start_peer chronyd -x -d -u root -f "$WORK/$server.conf" || skip "chronyd is not installed"
done
# Daytime over http and https (8443 good, 8444 expired, 8445 future): /N is the line of N s ago.
lines() {
  for ago in 0 30 $((3 * 365 * DAY)); do
    response "$ago" 200 "$(date -u -d "-$ago sec" '+%n6 %y-%m-%d %T 0 0 0 50.0 UTC(NIST) *')"
  done
}
cd "$WORK/web" && lines && fake_peer 8013 web "$WORK/web"
for port in 8443:good 8444:expired 8445:future; do
  background openssl s_server -quiet -HTTP -accept "127.0.0.1:${port%:*}" \
    -cert "$PKI/${port#*:}.pem" -key "$PKI/${port#*:}.key" </dev/null >/dev/null 2>&1
done
wait_until listening tcp 8445 && wait_until listening tcp 4460 127.0.0.4 || skip "no servers"
answers() { run --nts --server=127.0.0.1 --only-show --silent && [ "$(status)" = 0 ]; }
ready chronyd "${PIDS[0]}" answers

# [ERR=TEXT] try WHAT START STATUS set|kept ARG...: from a clock START s off, STATUS, the clock so.
try() {
  local want=$3 clock=$4 start=$2 now=kept
  set_offset_seconds "$start" && lines && run "${@:5}"
  [ "$(offset_ns)" = $((start * 1000000000)) ] || now=moved
  [ "$(abs "$(offset_ns)")" -lt 5000000000 ] && [ "$now" = moved ] && now=set
  check "$1, clock $start s off, ${*:5}: $want, $clock${ERR:+, says $ERR}" eval \
    '[ "$(status)" = "$want" ] && [ "$now" = "$clock" ] && { [ -z "${ERR:-}" ] || err_has "$ERR"; }'
}
BUILT=$(sed -n 's/#define HOROLAN_BUILD_TIME //p' "$BIN/../generated/app/build_time.h")
HTTPS=https://127.0.0.1:8443/0
for start in -$YEARS2 -7200 -3540 7200 $((BUILT - DAY - $(date +%s))); do
  limited=254 clock=kept way="--max-step=any"
  [ "${start#-}" -lt 3600 ] && limited=0 clock=set way=""
  ERR=$way try "NTS" "$start" "$limited" "$clock" --nts --server=127.0.0.1
  try "NTS" "$start" 0 set --nts --server=127.0.0.1 --max-step=any
  try "daytime over https (no limit of its own)" "$start" 0 set "--server=$HTTPS"
  try "SNTP" "$start" "$limited" "$clock" --sntp --server=127.0.0.1
done
try "daytime over https with a limit" 7200 254 kept "--server=$HTTPS" --max-step=3600

# Certificates expired by the time checked, or not valid at the server's time.
for start in 0 -$YEARS2; do
  ERR="Server certificate expired (-20)" try "NTS, certificate expired yesterday" "$start" 236 \
    kept --nts --server=127.0.0.2 --max-step=any
  ERR="before its certificate is valid" try "NTS, certificate valid from tomorrow" "$start" 237 \
    kept --nts --server=127.0.0.3 --max-step=any
  try "https, certificate valid from tomorrow" "$start" 237 kept --server=https://127.0.0.1:8445/0
  ERR=$([ "$start" = 0 ] && echo "local clock may be wrong: certificate of 127.0.0.1 expired") \
    try "https, certificate expired yesterday" "$start" 236 kept --server=https://127.0.0.1:8444/0
done
# A time before the floor is refused in every mode, also only shown.
ERR="before the earliest time possible" try "NTS, a server three years past" 100 238 kept \
  --nts --server=127.0.0.4 --max-step=any
try "SNTP, three years past" 100 238 kept --sntp --server=127.0.0.4 --max-step=any --only-show
try "http, three years past" 100 238 kept "--server=http://127.0.0.1:8013/$((3 * 365 * DAY))"
# The last authenticated run raises the floor: an answer before it, after the build, is refused.
try "NTS" 100 0 set --nts --server=127.0.0.1
ERR="before the earliest time possible" try "http, 30 s before the last run" 100 238 kept \
  --server=http://127.0.0.1:8013/30
finish

# Shared by the end-to-end scripts, run by in_namespace.sh: no right to set the clock, only loopback, private /etc/hosts.
set -u
BIN=${HOROLAN_BIN:?set HOROLAN_BIN to the bin folder of a build}
PEERS=${HOROLAN_PEERS:-$BIN/../peers}  # scripts/fetch-peers.sh; another build's for a fresh clone
WORK=$(mktemp -d /tmp/horolan-e2e.XXXXXX)
APP=$WORK/app
PIDS=()
passed=0 failed=0
trap 'kill "${PIDS[@]}" 2>/dev/null; wait "${PIDS[@]}" 2>/dev/null; rm -rf "$WORK"' EXIT
skip() { echo "SKIPPED: $*"; exit 77; }

ip -o link show | grep -v ': lo:' | grep -q . && skip "not in a private network namespace (use tests/e2e/in_namespace.sh)"
(( (0x$(awk '/CapBnd/ {print $2}' /proc/self/status) >> 25) & 1 )) && skip "CAP_SYS_TIME is still in the bounding set"
ip link set lo up || skip "cannot bring up loopback"
printf '127.0.0.1 localhost\n127.0.0.1 ntp.e2e.test daytime.e2e.test\n' > "$WORK/hosts"
printf 'hosts: files\n' > "$WORK/nsswitch.conf"
mount --bind "$WORK/hosts" /etc/hosts && mount --bind "$WORK/nsswitch.conf" /etc/nsswitch.conf ||
  skip "cannot mount a private /etc/hosts"

# check WHAT COMMAND...: one check; a failure shows the last run's output.
check() {
  "${@:2}" && passed=$((passed + 1)) && echo "ok - $1" && return
  failed=$((failed + 1)) && echo "not ok - $1" && echo "    status $(status 2>/dev/null), clock offset $(offset_ns) ns"
  sed 's/^/    out: /' "$WORK/out" 2>/dev/null; sed 's/^/    err: /' "$WORK/err" 2>/dev/null
}
finish() { echo "$passed passed, $failed failed"; [ "$failed" -eq 0 ]; }
# Polls for readiness only: at most 100 times 0.1 s.
wait_until() { for _ in $(seq 100); do "$@" && return 0 || sleep 0.1; done; return 1; }
# ready PEER PID COMMAND...: waits until our run COMMAND gets the peer's answer; a dead peer is a skip, a live one
# never answered a failure of ours.
ready() {
  wait_until "${@:3}" && return 0
  kill -0 "$2" 2>/dev/null || skip "$1 did not start: $(tail -3 "$WORK/peers.log")"
  check "$1 answers our run" false; finish; exit 1
}
listening() { ss -Hln "--$1" "sport = :$2" | grep -qF "${3:-}:$2 "; }  # listening tcp|udp PORT [HOST]
# background COMMAND...: a helper process, stopped by PID at the end.
background() { "$@" <&0 & PIDS+=($!); }  # <&0: a here-document reaches it
# silent_peer tcp|udp HOST PORT: a socket that never reads a datagram nor accepts a connection; fails if it is not up.
silent_peer() {
  background python3 -c 'import socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM if sys.argv[1] == "udp" else socket.SOCK_STREAM)
s.bind((sys.argv[2], int(sys.argv[3]))); sys.argv[1] == "udp" or s.listen(); time.sleep(120)' "$@"
  wait_until listening "$1" "$3" "$2"
}

# start_peer NAME ARG...: a foreground peer from the build's peers/ (scripts/fetch-peers.sh), else PATH; fails if none.
# PEER_IN: a command it runs under (e.g. ip netns exec NS).
PEER_IN=()
start_peer() {
  local dir modules=()
  for dir in "$PEERS"/*/usr/sbin "$PEERS"/*/usr/bin ${PATH//:/ } /usr/sbin /sbin; do
    [ -x "$dir/$1" ] || continue
    [ "$1" = lighttpd ] && modules=(-m "$dir/../lib/lighttpd")
    background "${PEER_IN[@]}" "$dir/$1" "${modules[@]}" "${@:2}" >>"$WORK/peers.log" 2>&1
    return 0
  done
  return 1
}
# start_chrony synchronised|unsynchronised [LINE...]: chronyd (-x) on 127.0.0.1:123, local stratum 8 or leap 3, LINEs
# added to its configuration (a later bindaddress of a family wins).
start_chrony() {
  mkdir -p "$WORK/chrony"
  printf '%s\n' "port 123" "bindaddress 127.0.0.1" "allow 127.0.0.1" "cmdport 0" "driftfile $WORK/chrony/drift" \
    "pidfile $WORK/chrony/chronyd.pid" "$([ "$1" = synchronised ] && echo "local stratum 8")" "${@:2}" > "$WORK/chrony/conf"
  start_peer chronyd -x -d -u root -f "$WORK/chrony/conf" || skip "chronyd is not installed"
  CHRONY_PID=$!
}
# start_ready_chrony [SERVER [LINE...]]: a synchronised chronyd that has answered a run to SERVER (127.0.0.1).
start_ready_chrony() {
  READY_SERVER=${1:-127.0.0.1}
  start_chrony synchronised "${@:2}"
  set_offset_seconds 0
  # --no-syslog: a probe before the peer is up must not add to the log lines a test counts.
  answers() { run --sntp "--server=$READY_SERVER" --only-show --silent --no-syslog &&
    [ "$(status)" = 0 ]; }
  ready chronyd "$CHRONY_PID" answers
}
stop_chrony() { kill "$CHRONY_PID" && wait "$CHRONY_PID" 2>/dev/null; }

# fake_peer PORT line|web LINE|FOLDER [HOST]: a fake peer on HOST (127.0.0.1):PORT. The line server sends LINE after
# the request's first byte and closes (a reset: the rest is unread), as a daytime service does. The web server logs
# requests to $WORK/requests, sends the file of FOLDER named by the target's last segment ("index" when empty) and
# closes cleanly.
fake_peer() {
  background python3 - "$1" "$2" "$3" "${4:-127.0.0.1}" "$WORK/requests" <<'PY'
import os, socket, sys
port, mode, what, host, log = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5]
server = socket.create_server((host, port), family=socket.AF_INET6 if ":" in host else socket.AF_INET)
while True:
    client, request = server.accept()[0], b""
    while b"\r\n\r\n" not in request and (mode == "web" or not request):
        chunk = client.recv(1 if mode == "line" else 65536)
        request += chunk
        if not chunk: break
    open(log, "ab").write(request)
    path = os.path.join(what, (request.split(b" ") + [b""])[1].rsplit(b"/", 1)[-1].decode() or "index")
    client.sendall(what.encode() if mode == "line" else open(path, "rb").read() if os.path.isfile(path) else b"")
    if mode == "web":
        client.shutdown(socket.SHUT_WR)
        while client.recv(65536): pass
    client.close()
PY
  wait_until listening tcp "$1" || skip "the fake $2 server did not start on port $1"
}
# response NAME STATUS BODY [HEADER-LINES]: what the web server sends for NAME.
response() {
  printf 'HTTP/1.1 %s X\r\nContent-Length: %s\r\nConnection: close\r\n%b\r\n%s' "$2" "${#3}" "${4:-}" "$3" \
    > "$WORK/web/$1"
}

# A private copy of the executable and its modules.
install_app() { rm -rf "$APP" && mkdir -p "$APP" && cp "$BIN/horolan" "$BIN/libhorolan_tui.so" "$BIN/libhorolan_url.so" "$APP/"; }
set_offset_seconds() { echo "$(($1 * 1000000000))" > "$WORK/offset"; }
offset_ns() { cat "$WORK/offset" 2>/dev/null || echo 0; }
virtual_date() { env LD_PRELOAD="$BIN/libhorolan_vclock.so" HOROLAN_VCLOCK_FILE="$WORK/offset" date -u "$@"; }
abs() { echo "${1#-}"; }

# run ARG...: horolan on the virtual clock (extra environment: RUN_ENV; a command it runs under:
# RUN_WRAP); $WORK/status, $WORK/out, $WORK/err.
RUN_ENV=() RUN_WRAP=()
run() {
  "${RUN_WRAP[@]}" env XDG_STATE_HOME="$WORK/state" XDG_CACHE_HOME="$WORK/cache" HOME="$WORK" \
    LD_PRELOAD="$BIN/libhorolan_vclock.so" HOROLAN_VCLOCK_FILE="$WORK/offset" \
    "${RUN_ENV[@]}" "$APP/horolan" "$@" </dev/null >"$WORK/out" 2>"$WORK/err"
  echo $? > "$WORK/status"
}
status() { cat "$WORK/status"; }
out_has() { grep -qF -- "$1" "$WORK/out"; }
# LastResult as hex bytes (e.g. FEFFFFFF), empty when none was written.
last_result() {
  [ -f "$WORK/state/horolan/registry.db" ] && sqlite3 "$WORK/state/horolan/registry.db" "SELECT hex(data) FROM
    registry WHERE lower(ltrim(key, '\\')) = lower('Software\\QV\\horol') AND lower(value) = 'lastresult'"
}

# "set" when a clock START_SECONDS ahead was corrected (within 0.5 s), "kept" when untouched; scripts may override.
START_SECONDS=100
clock_state() {
  [ "$(offset_ns)" = $((START_SECONDS * 1000000000)) ] && echo kept && return
  [ "$(abs "$(offset_ns)")" -lt 500000000 ] && echo set
}
# [OUT=TEXT] [ERR=TEXT] [LAST=HEX] expect WHAT STATUS set|kept ARG...: a run from a clock START_SECONDS off ends with
# STATUS and leaves the clock so (the TEXTs in its output and error lines, LastResult HEX).
expect() {
  set_offset_seconds "$START_SECONDS"
  run "${@:4}"
  check "$1: exit status $2, clock $3${OUT:+, says $OUT}${ERR:+, error line $ERR}${LAST:+, LastResult $LAST}" \
    eval "[ \"\$(status)\" = $2 ] && [ \"\$(clock_state)\" = $3 ] && says"
}
says() {
  { [ -z "${OUT:-}" ] || out_has "$OUT"; } && { [ -z "${ERR:-}" ] || err_has "$ERR"; } &&
    { [ -z "${LAST:-}" ] || [ "$(last_result)" = "$LAST" ]; }
}
err_has() { grep -qF -- "$1" "$WORK/err"; }

# make_test_ca (tests/e2e/test_ca.sh): the test CA and a server certificate signed by it.
source "$(dirname "${BASH_SOURCE[0]}")/test_ca.sh"
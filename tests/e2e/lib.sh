# Shared by the end-to-end scripts: they run the real horolan executable in a
# private network and mount namespace (only loopback exists; names resolve
# from a private /etc/hosts), under the virtual-clock shim, with the right to
# set the clock dropped. Nothing here can move the machine's clock or reach
# another host.
set -u

BIN=${HOROLAN_BIN:?set HOROLAN_BIN to the bin folder of a build}
CELLCORE_DIR=${HOROLAN_CELLCORE_DIR:-}
WORK=$(mktemp -d /tmp/horolan-e2e.XXXXXX)
APP=$WORK/app
PIDS=()
passed=0
failed=0

cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$WORK"
}
trap cleanup EXIT

skip() {
  echo "SKIPPED: $*"
  exit 77
}

# Checks run in the namespace only; refuse to run anywhere else.
[ -e /proc/self/ns/net ] || skip "no network namespaces"
if ip -o link show | grep -v ': lo:' | grep -q .; then
  skip "not inside a private network namespace (run through tests/e2e/in_namespace.sh)"
fi
capbnd=$(awk '/CapBnd/ {print $2}' /proc/self/status)
if (( (0x$capbnd >> 25) & 1 )); then  # CAP_SYS_TIME
  skip "CAP_SYS_TIME is still in the bounding set"
fi
ip link set lo up || skip "cannot bring up loopback"
printf '127.0.0.1 localhost\n127.0.0.1 ntp.e2e.test daytime.e2e.test\n' > "$WORK/hosts"
printf 'hosts: files\n' > "$WORK/nsswitch.conf"
mount --bind "$WORK/hosts" /etc/hosts || skip "cannot mount a private /etc/hosts"
mount --bind "$WORK/nsswitch.conf" /etc/nsswitch.conf || skip "cannot mount a private nsswitch.conf"

ok() {
  passed=$((passed + 1))
  echo "ok - $1"
}
not_ok() {
  failed=$((failed + 1))
  echo "not ok - $1"
  [ -f "$WORK/out" ] && sed 's/^/    out: /' "$WORK/out"
  [ -f "$WORK/err" ] && sed 's/^/    err: /' "$WORK/err"
  return 0
}
check() {
  local what=$1
  shift
  if "$@"; then ok "$what"; else not_ok "$what"; fi
}
finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}

# A private copy of the executable and its modules: its configuration file
# and a connection-manager library can then lie beside it.
install_app() {
  rm -rf "$APP"
  mkdir -p "$APP"
  cp "$BIN/horolan" "$BIN/libhorolan_tui.so" "$BIN/libhorolan_url.so" "$APP/"
}

# The virtual clock's offset from the real clock, in nanoseconds.
set_offset_seconds() { echo "$(($1 * 1000000000))" > "$WORK/offset"; }
offset_ns() { cat "$WORK/offset" 2>/dev/null || echo 0; }
abs() { local v=$1; echo "${v#-}"; }

# Runs horolan with the given arguments; status in $WORK/status, standard
# output in $WORK/out. Extra environment in RUN_ENV (an array).
RUN_ENV=()
run() {
  env XDG_STATE_HOME="$WORK/state" XDG_CACHE_HOME="$WORK/cache" HOME="$WORK" \
    LD_PRELOAD="$BIN/libhorolan_vclock.so" HOROLAN_VCLOCK_FILE="$WORK/offset" \
    "${RUN_ENV[@]}" "$APP/horolan" "$@" </dev/null >"$WORK/out" 2>"$WORK/err"
  echo $? > "$WORK/status"
}
status() { cat "$WORK/status"; }
out_has() { grep -qF -- "$1" "$WORK/out"; }

# LastResult as hex bytes (e.g. FEFFFFFF), empty when none was written.
last_result() {
  local db="$WORK/state/horolan/registry.db"
  [ -f "$db" ] || return 0
  sqlite3 "$db" "SELECT hex(data) FROM registry WHERE lower(ltrim(key, '\\')) = lower('Software\\QV\\horol') AND lower(value) = 'lastresult'"
}
forget_registry() { rm -rf "$WORK/state"; }

# chronyd as an NTP server on 127.0.0.1:123; never touches the clock (-x).
start_chrony() {
  local synchronised=$1
  mkdir -p "$WORK/chrony"
  {
    echo "port 123"
    echo "bindaddress 127.0.0.1"
    echo "allow 127.0.0.1"
    echo "cmdport 0"
    echo "driftfile $WORK/chrony/drift"
    echo "pidfile $WORK/chrony/chronyd.pid"
    [ "$synchronised" = yes ] && echo "local stratum 8"
  } > "$WORK/chrony/chrony.conf"
  /usr/sbin/chronyd -x -d -f "$WORK/chrony/chrony.conf" >"$WORK/chrony/log" 2>&1 &
  CHRONY_PID=$!
  PIDS+=("$CHRONY_PID")
}
# A synchronised chronyd that has answered once, or a skip.
start_ready_chrony() {
  [ -x /usr/sbin/chronyd ] || skip "chronyd is not installed"
  start_chrony yes
  set_offset_seconds 0
  ready() { run --sntp --server=127.0.0.1 --only-show --silent; [ "$(status)" = 0 ]; }
  wait_until ready || skip "chronyd did not answer on 127.0.0.1:123"
}
stop_chrony() {
  kill "$CHRONY_PID" 2>/dev/null
  wait "$CHRONY_PID" 2>/dev/null
}

# Polls until the condition holds, at most 100 times 0.1 s; readiness only.
wait_until() {
  local i
  for i in $(seq 100); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

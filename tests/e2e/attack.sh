# Runs taken over from inside (tests/tools/attack preloaded: a parser bug turned into code
# execution), by SNTP and NTS against chronyd and by a daytime line: every attack of either part is
# refused, and the run still sets the clock. Then network parts that send a spoilt record, or none:
# -4, LastResult written, the clock kept.
source "$(dirname "$0")/lib.sh"
install_app
cp "$BIN/libhorolan_nts.so" "$APP/"
[ -f "$BIN/libhorolan_attack.so" ] || skip "no attacker library"
# The decoy secret the attacker looks for; a file the network part's user owns, where it reaches.
printf 'horolan-decoy-shadow\n' > "$WORK/shadow" && chmod 600 "$WORK/shadow"
mount --bind "$WORK/shadow" /etc/shadow || skip "cannot mount a decoy /etc/shadow"
chmod 755 "$WORK" && touch "$APP/target"
chown "$(id -u horolan 2>/dev/null || id -u nobody)" "$APP/target"
# The attacks' lines: the run's on descriptor 9, the network part's by UDP. Unix sockets to reach:
# a root-only one, a world-writable datagram one (as /dev/log).
exec 9>>"$WORK/attacks"
background python3 - "$WORK/attacks" "$WORK/root.sock" <<'PY'
import os, socket, sys
udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); udp.bind(("127.0.0.1", 11999))
unix = socket.socket(socket.AF_UNIX); unix.bind(sys.argv[2]); os.chmod(sys.argv[2], 0o600)
dgram = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM); dgram.bind(sys.argv[2] + ".dgram")
os.chmod(sys.argv[2] + ".dgram", 0o666); unix.listen()
while line := udp.recv(512): open(sys.argv[1], "ab").write(line)
PY
wait_until listening udp 11999 || skip "the attacks' listener did not start"
PKI=$WORK/pki
make_test_ca "$PKI" || skip "openssl cannot make the test CA"
start_chrony synchronised "ntsdumpdir $PKI" "ntsport 4460" "ntsservercert $PKI/server.pem" \
  "ntsserverkey $PKI/server.key" "ntsntpserver 127.0.0.1"
answers() { run --sntp --server=127.0.0.1 --only-show --silent && [ "$(status)" = 0 ]; }
ready chronyd "$CHRONY_PID" answers
fake_peer 13 line $'\n64754 35-11-30 12:34:56 00 0 0 50.0 UTC(NIST) * \n'

# Each run in a PID namespace and a session of its own: a kill(-1) or kill(0) let through reaches
# nothing else.
RUN_WRAP=(unshare --pid --fork --kill-child setsid --fork --wait)
ATTACKED=(LD_PRELOAD="$BIN/libhorolan_vclock.so $BIN/libhorolan_attack.so" HOROLAN_ATTACK_FD=9
  HOROLAN_ATTACK_PORT=11999 HOROLAN_ATTACK_FILE="$APP/target" HOROLAN_ATTACK_UNIX="$WORK/root.sock"
  SSL_CERT_FILE="$PKI/ca.pem")
MODES="fchmod-04755 fchmod-0666 fchown chmod-path"
NETWORK="shadow-read shadow-0666 registry-create $MODES mmap-exec mprotect-exec registry-write
  socket-unix unix-connect unix-dgram clock-settime settimeofday clock-adjtime execve kill-all
  kill-group"
# The run itself writes its registry and sets the clock; it never reads a secret, changes modes,
# opens a socket, maps code or signals.
RUN="shadow-read shadow-0666 $MODES mmap-exec mprotect-exec socket-unix unix-connect unix-dgram
  socket-inet execve kill-all kill-group"
# Without Landlock (no ABI version) only the file modes keep the run (uid 0, the owner) from a
# root-only file.
python3 -c 'import ctypes; exit(ctypes.CDLL(None).syscall(444, None, 0, 1) <= 0)' ||
  RUN=${RUN/shadow-read /}
unrefused() {  # the attacks of either part not refused, or not tried
  { printf 'network %s\n' $NETWORK; printf 'run %s\n' $RUN; } | while read -r line; do
    grep -qx "$line refused:[A-Z]*" "$WORK/attacks" || echo "$line"; done
}
attacked() {  # attacked WHAT ARG...: a run taken over in both parts, from a clock START_SECONDS off
  : > "$WORK/attacks"
  RUN_ENV=("${ATTACKED[@]}")
  expect "$1: taken over, the run still" 0 set "${@:2}"
  wait_until grep -q "^network kill-group refused" "$WORK/attacks"
  check "$1: every attack of either part refused" eval '[ -z "$(unrefused)" ] || ! unrefused'
}
attacked sntp --sntp --server=127.0.0.1
attacked nts --nts --server=127.0.0.1

# A network part that sends a record of another size, one with garbage in it, or none.
for spoilt in short:"sent a record of the wrong size" long:"sent a record of the wrong size" \
  mark:"sent a record of another kind" nan:"sent times that are no numbers" \
  code:"sent a code no query ends with" stratum:"sent a stratum no answer has" \
  reason:"sent a reason with no end" none:"ended without an answer"; do
  RUN_ENV=("${ATTACKED[@]}" HOROLAN_ATTACK_RECORD="${spoilt%%:*}")
  LAST=FCFFFFFF ERR="network part ${spoilt#*:}" \
    expect "a record spoilt (${spoilt%%:*})" 252 kept --sntp --server=127.0.0.1
done
START_SECONDS=0  # the daytime line's time is set
clock_state() { [ "$(offset_ns)" != 0 ] && [ "$(virtual_date '+%F %R')" = "2035-11-30 12:34" ] &&
  echo set; }
attacked daytime --server=127.0.0.1:13
finish

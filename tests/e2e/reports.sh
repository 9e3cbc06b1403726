# Where an installed program reads its settings, --show-settings, and what a run reports beyond
# its message: the system log line (from a private /dev/log), --json (parsed by Python's json) and
# --metrics-file (promtool). The runs against chronyd come last; without it the rest still runs.
source "$(dirname "$0")/lib.sh"
install_app
# A private /dev: a tmpfs of this mount namespace, never a bind of the machine's (nothing here may
# reach its nodes), with the devices the runs use made anew and /dev/log a socket of ours.
mount -t tmpfs -o mode=755 none /dev || skip "cannot mount a private /dev"
for n in null:1:3 zero:1:5 random:1:8 urandom:1:9 tty:5:0; do IFS=: read -r n a b <<< "$n"
  mknod -m 666 "/dev/$n" c "$a" "$b" || skip "no mknod"; done
ln -s /proc/self/fd /dev/fd
background python3 -c 'import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM); s.bind("/dev/log")
while True: open(sys.argv[1], "ab").write(s.recv(4096) + b"\n")' "$WORK/syslog"
wait_until [ -S /dev/log ] || skip "no /dev/log listener"
settings() { grep -qE "^  $1 +$2 +$3\$" "$WORK/out"; }  # NAME VALUE ORIGIN: --show-settings

# An installed tree: the system file, then the user's, never a file beside the executable.
INST=$WORK/inst SYS=$WORK/inst/etc/horolan/horolan.txt MINE=$WORK/.config/horolan/horolan.txt
mkdir -p "$INST/bin" "$INST/lib/horolan" "$INST/etc/horolan" "$WORK/.config/horolan"
cp "$BIN/horolan" "$INST/bin/" && cp "$BIN"/libhorolan_{tui,url}.so "$INST/lib/horolan/"
printf '#SNTP\n#SSERVER(127.0.0.1)\n#SILENT\n' > "$SYS"
printf ';mine\n#ONLYSHOW\n#SSERVER(ntp.e2e.test)\n' > "$MINE"
printf '#NIST\n' > "$INST/bin/horolan.txt"
APP=$INST/bin run --show-settings --server=a
check "installed: the system file, then the user's, then the command line" eval '
  settings mode sntp "$SYS:1" && settings server a "command line" && settings silent on "$SYS:3" &&
  settings only-show on "$MINE:2" && [ "$(wc -l < "$WORK/out")" = 13 ] &&
  out_has "$SYS (the system file, edited by --config)" && out_has "$MINE (your file)"'
RUN_ENV=(HOROLAN_CONFIG="$MINE")
run --show-settings '#SERVER()'
check "HOROLAN_CONFIG names the one file" eval '
  settings mode daytime "built in" && settings server "http://time.nist.gov:13" "built-in default"'
RUN_ENV=()
ERR="configuration file $WORK/none: no such file" expect "--config-file missing" 2 kept \
  --config-file="$WORK/none"
check "--config-file missing: no LastResult" [ -z "$(last_result)" ]

# --json: one object on standard output for success and each kind of failure, any server text.
json() {
  python3 -c 'import json, sys
o = json.load(open(sys.argv[1])); print(*[o[k] for k in sys.argv[2:]])' "$WORK/out" "$@"
}
run --json --sntp --server=$'q"\\\x01\xff\xc3\xa9.e2e.test' '#bogus'
check "--json: a server text with a quote, a control character, invalid UTF-8: still JSON" \
  [ "$(json code mode)" = "11001 sntp" ]
check "a word with no keyword: a warning" err_has "'#bogus' holds no keyword: ignored"
fake_peer 13 line "not a daytime line"
fake_peer 14 line $'\n64754 35-11-30 12:34:56 00 0 0 50.0 UTC(NIST) * \n'
run --json --nist --server=127.0.0.1
check "--json: a daytime answer that is not NIST" eval '
  [ "$(json mode code address stratum time)" = "daytime -3 127.0.0.1 None None" ]'
run --json --nist --server=127.0.0.1:14
check "--json: a daytime set, the time obtained" eval '[ "$(status)" = 0 ] &&
  [[ "$(json clock_set time)" =~ ^"True 2035-11-30T12:34:56."[0-9]{3}000000Z$ ]]'

# --metrics-file: replaced after each run, checked by promtool; the last success survives a failure.
PROMTOOL=$PEERS/prometheus/usr/bin/promtool PROM=$WORK/metrics/horolan.prom
mkdir "$WORK/metrics"
metric() { awk -v name="$1" '$1 ~ "^" name "[{]" {print $2}' "$PROM"; }
run --nist --server=127.0.0.1:14 --only-show --silent --metrics-file="$PROM"
success=$(metric horolan_last_success_timestamp_seconds)
run --sntp --server=127.0.0.1:14 --silent --metrics-file="$PROM"  # the same server shown, unknown
check "metrics: last result, clock set, offset, times" eval '
  [ "$(metric horolan_last_result)/$(metric horolan_clock_set)" = 11001/0 ] &&
  [ -z "$(metric horolan_offset_seconds)$(metric horolan_delay_seconds)" ] &&
  [ "$(metric horolan_last_success_timestamp_seconds)" = "$success" ] && grep -q ":14\"}" "$PROM"'
check "metrics: 0644, nothing left beside it" eval '[ "$(stat -c %a "$PROM")" = 644 ] &&
  [ "$(ls -A "$WORK/metrics")" = horolan.prom ]'
if [ -x "$PROMTOOL" ]; then
  check "metrics: promtool check metrics" eval '"$PROMTOOL" check metrics < "$PROM"'
else
  echo "SKIPPED part: promtool is not unpacked (scripts/fetch-peers.sh)"
fi
run --nist --server=127.0.0.1:14 --silent --metrics-file="$WORK/none/horolan.prom"
check "metrics: a missing folder is said, the run unchanged" eval '
  [ "$(status)" = 0 ] && err_has "metrics file $WORK/none/horolan.prom: No such file or directory"'

# The log line: set, failed, failed silently; show-only runs and --no-syslog write none.
line() { sed -n "$1p" "$WORK/syslog"; }
: > "$WORK/syslog"
ERR="127.0.0.2: Connection refused (10061)" expect "failed: its line on standard error" 77 kept \
  --sntp --server=127.0.0.2
run --sntp --server=127.0.0.2 --no-syslog
expect "failed, silent" 4 kept --silent --nist --server=127.0.0.1:1
wait_until [ "$(wc -l < "$WORK/syslog")" -ge 2 ]
re='^<27>.* horolan\[[0-9]+\]: sync failed: Connection refused \(10061\) from 127\.0\.0\.2 '
re+='\(127\.0\.0\.2\)$'
check "syslog: failed, the reason and the code" eval '[[ "$(line 1)" =~ $re ]]'
check "syslog: failed silently" eval '
  [[ "$(line 2)" =~ " sync failed: Cannot connect (0x800C0004)".*" from 127.0.0.1:1"$ ]]'

if ! { ls "$PEERS"/*/usr/sbin/chronyd || command -v chronyd; } >/dev/null 2>&1; then
  echo "SKIPPED part: chronyd is not unpacked (scripts/fetch-peers.sh)"
  finish; exit
fi
start_ready_chrony
expect "set" 0 set --sntp --server=127.0.0.1
wait_until [ "$(wc -l < "$WORK/syslog")" -ge 3 ]
check "syslog: two lines before, one for the set, none for the show-only runs" \
  [ "$(wc -l < "$WORK/syslog")" = 3 ]
re='^<29>.* horolan\[[0-9]+\]: set the clock by -(99\.9|100\.0)[0-9]{5} s from 127\.0\.0\.1 '
re+='\(127\.0\.0\.1\), sntp, delay 0\.[0-9]{6} s, error bound 0\.[0-9]{6} s, stratum 8$'
check "syslog: set, with offset, address, delay and stratum" eval '[[ "$(line 3)" =~ $re ]]'
APP=$INST/bin expect "installed: a user's file cannot switch the system's #SILENT off" 0 kept
check "installed: silent" [ ! -s "$WORK/out" ]
run --json --sntp --server=127.0.0.1 --only-show
check "--json: show-only" eval '[ "$(wc -l < "$WORK/out")" = 1 ] &&
  [ "$(json address mode code clock_set stratum leap)" = "127.0.0.1 sntp 0 False 8 0" ] &&
  [[ "$(json time)" =~ ^20[0-9]{2}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{9}Z$ ]]'
set_offset_seconds 5000
run --json --sntp --server=127.0.0.1 --metrics-file="$PROM"
check "--json and metrics: offset too large, as measured" eval '
  [[ "$(json code text)" == "-2 Very big local clock offset (-2): "*"limit is 3600 s"* ]] &&
  [[ "$(json offset clock_set stratum)" =~ ^-(4999\.9|5000\.0)[0-9]+" False 8"$ ]] &&
  [[ "$(metric horolan_offset_seconds)" =~ ^-(4999\.9|5000\.0) ]] &&
  [ -n "$(metric horolan_delay_seconds)" ]'
RUN_ENV=(HOROLAN_VCLOCK_REFUSE=1)
expect "refused set" 1 kept --json --sntp --server=127.0.0.1
check "--json: refused set, with the hint on standard error" eval '
  [ "$(json code clock_set)" = "1 False" ] &&
  err_has "setting the clock needs root or CAP_SYS_TIME; --only-show asks without setting"'
finish

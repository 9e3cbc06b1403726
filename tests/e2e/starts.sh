# The kinds of start, the switches and the settings precedence of the real executable.
source "$(dirname "$0")/lib.sh"
CELLCORE_DIR=${HOROLAN_CELLCORE_DIR:-}
install_app
start_ready_chrony
registered() {
  [ -n "$(sqlite3 "$WORK/state/horolan/registry.db" "SELECT 1 FROM registry WHERE
    lower(ltrim(key, '\\')) = lower('Software\\QV\\horol\\Shell') LIMIT 1" 2>/dev/null)" ]
}

rm -rf "$WORK/state"
expect "#config without a terminal" 0 kept '#config'
check "#config without a terminal: no LastResult, no registration, says why on standard error" \
  eval '[ -z "$(last_result)" ] && ! registered && err_has "editor needs a terminal"'
run '#CONFIG' '#REGISTER'
check "#CONFIG #REGISTER: no registration" eval '[ "$(status)" = 0 ] && ! registered'

expect "#REGISTER #SILENT" 0 kept '#REGISTER' '#SILENT' '#SNTP' '#SERVER(127.0.0.1)'
check "#REGISTER #SILENT: registered, no LastResult, no output" eval 'registered && [ -z "$(last_result)" ] && [ ! -s "$WORK/out" ]'

rm -rf "$WORK/state"
LAST=00000000 expect "#SILENT" 0 kept '#SILENT' '#SNTP' '#ONLYSHOW' '#SERVER(127.0.0.1)'
check "#SILENT: no output" [ ! -s "$WORK/out" ]

# Output to a pipe no one reads: the run takes back the SIGPIPE its message raised, ends with its code and stores it.
rm -rf "$WORK/state"
RUN_ENV=(python3 -c 'import os, signal, sys; r, w = os.pipe(); os.close(r); os.dup2(w, 1)
signal.signal(signal.SIGPIPE, signal.SIG_DFL); os.execv(sys.argv[1], sys.argv[1:])')
LAST=00000000 expect "output to a closed pipe" 0 kept '#SNTP' '#ONLYSHOW' '#SERVER(127.0.0.1)'
RUN_ENV=()

printf '#NIST\r\n#NSERVER(ntp.e2e.test)\r\n' > "$APP/horolan.txt"
OUT="Server ntp.e2e.test" expect "file NIST server + #SNTP: SNTP with that server" 0 kept '#SNTP' '#ONLYSHOW'
OUT="Server pool.ntp.org" expect "#SERVER(): the default SNTP server" 249 kept '#SNTP' '#ONLYSHOW' '#SERVER()'
# A switch set in the file cannot be cleared from the command line.
printf '#SNTP\n#SSERVER(127.0.0.1)\n#SILENT #ONLYSHOW\n' > "$APP/horolan.txt"
expect "file #ONLYSHOW leaves the clock" 0 kept
check "file #SILENT stays silent" [ ! -s "$WORK/out" ]
rm -f "$APP/horolan.txt"

# "#CONNECT" with the test connection manager: establish before the query, release after it. Loaded beside the executable
# or from a system library folder, never from the working folder through an empty LD_LIBRARY_PATH element.
if [ -n "$CELLCORE_DIR" ] && [ -f "$CELLCORE_DIR/cellcore.dll" ]; then
  connect() {  # FOLDER WHERE: a run with the manager in FOLDER, from the working folder WHERE
    mkdir -p "$1" "$2" && cp "$CELLCORE_DIR/cellcore.dll" "$1/" && : > "$WORK/cellcore.log"
    (cd "$2" && RUN_ENV=(HOROLAN_CELLCORE_LOG_FD=3 LD_LIBRARY_PATH=:) &&
      run '#CONNECT' '#SNTP' '#ONLYSHOW' '#SERVER(127.0.0.1)') 3>>"$WORK/cellcore.log"
    rm "$1/cellcore.dll"
    calls=$(awk '{print $1}' "$WORK/cellcore.log" | tr '\n' ' ')
  }
  connect "$WORK/state/horolan" "$WORK/state/horolan"
  check "#CONNECT: a library in the working folder is not loaded" eval '[ "$(status)" = 0 ] && [ -z "$calls" ]'
  connect "$APP" "$WORK"
  # Loaded once, before the run confines itself, and kept to its end.
  check "#CONNECT: establish, then status and release, around a successful query" \
    eval '[ "$(status)" = 0 ] && [ "$calls" = "load establish status release unload " ]'
  if mount -t tmpfs none /usr/local/lib; then
    connect /usr/local/lib "$WORK"
    check "#CONNECT: found in a system library folder" \
      [ "$calls" = "load establish status release unload " ]
    umount /usr/local/lib
  fi
else
  echo "SKIPPED part: no test connection manager (HOROLAN_CELLCORE_DIR)"
fi

rm -rf "$WORK/state"
run --help
check "--help: usage, exit 0, no LastResult" eval '[ "$(status)" = 0 ] && out_has "Usage: horolan" && [ -z "$(last_result)" ]'
OUT="horolan 1." expect "--version" 0 kept -V
# A mistyped option is a usage error naming it (exit 2): nothing runs, although the rest would set the clock.
for bad in --bogus --onlyshow -q -6 --timeout=1 - --only-show=x --sntp=1 --only --s --server --server= --server=-6; do
  ERR="'${bad%%=*}" expect "usage error $bad" 2 kept --sntp --server=127.0.0.1 "$bad"
  check "usage error $bad: a line to try --help, no output, no LastResult" \
    eval 'grep -q ^Try "$WORK/err" && [ ! -s "$WORK/out" ] && [ -z "$(last_result)" ]'
done
finish

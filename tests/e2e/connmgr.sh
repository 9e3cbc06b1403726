# "#CONNECT" with the connection manager the platform hands out: a real NetworkManager
# (nm_world.sh) brings up a profile for the run and takes it down afterwards, keeps what was up,
# and its failures never stop the run.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/nm_world.sh"
install_app && cp "$BIN/libhorolan_nm.so" "$APP/"
start_nm_world
nm_profile a-static 0 nmv0 method=manual address1=10.77.0.1/24,10.77.0.2
nm_profile c-high 5 nmv0 method=manual address1=10.77.0.5/24,10.77.0.2
nm_profile z-elsewhere 10 nmv9 method=manual address1=10.77.0.9/24,10.77.0.2
nm_profile b-dhcp -1 nmv0 method=auto dhcp-timeout=1
nmcli connection reload
sntp=(--sntp --server=10.77.0.2)
nothing_up() { [ -z "$(active_profiles)" ]; }

run "${sntp[@]}"
unreachable=$(status)  # no profile up: no address on nmv0
check "without a profile up the server is out of reach" [ "$unreachable" != 0 ]

expect "down: the best profile with a device is brought up for the run" 0 set --connect "${sntp[@]}"
check "c-high (priority 5) came up, z-elsewhere (10) has no device; down again afterwards" \
  eval '[ "$(started c-high)" = 1 ] && [ "$(started z-elsewhere)" = 0 ] && nothing_up'

nmcli connection up a-static >/dev/null
expect "up already: nothing brought up" 0 set --connect "${sntp[@]}"
check "a-static stays up, nothing else started" \
  eval '[ "$(active_profiles)" = "a-static " ] && [ "$(started c-high)" = 1 ]'
nmcli connection down a-static >/dev/null

expect "the named profile" 0 set --connection=a-static "${sntp[@]}"
check "a-static was brought up and is down again" eval '[ "$(started a-static)" = 2 ] && nothing_up'

ERR="data connection: \"b-dhcp\" failed to come up: no IP configuration" expect \
  "a profile that cannot come up: the run goes on" "$unreachable" kept '#CONNECTION(b-dhcp)' \
  "${sntp[@]}"
check "nothing is left up" nothing_up
ERR='data connection: no connection profile "none"' \
  expect "an unknown profile" "$unreachable" kept --connection=none "${sntp[@]}"

if [ -f "${HOROLAN_CELLCORE_DIR:-}/cellcore.dll" ]; then
  cp "$HOROLAN_CELLCORE_DIR/cellcore.dll" "$APP/"
  RUN_ENV=(HOROLAN_CELLCORE_LOG_FD=3) && run --connect "${sntp[@]}" 3>"$WORK/cellcore.log"
  RUN_ENV=() && rm "$APP/cellcore.dll"
  calls=$(awk '{printf "%s ", $1}' "$WORK/cellcore.log")
  check "a cellcore.dll beside the executable comes first" eval '[ "$(started c-high)" = 1 ] &&
    [ "$calls" = "load establish status release unload " ] &&
    [ "$(status)" = "$unreachable" ]'
fi

chmod 755 "$WORK" "$APP"
RUN_ENV=(setpriv --reuid=65534 --regid=65534 --clear-groups)
ERR="Not authorized to control networking" \
  expect "a caller without the right: refused, the run goes on" "$unreachable" kept --connect \
  --only-show "${sntp[@]}"
RUN_ENV=()
check "nothing was brought up for it" eval '[ "$(started c-high)" = 1 ] && nothing_up'

kill "$NM_PID" && wait "$NM_PID"
ERR="data connection: NetworkManager is not running" \
  expect "NetworkManager not running: no step" "$unreachable" kept --connect "${sntp[@]}"
expect "silent" "$unreachable" kept --connect --silent "${sntp[@]}"
check "silent: nothing on standard error" [ ! -s "$WORK/err" ]
finish

#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The package's service and timer under a real systemd as PID 1 (as root, Debian 12): a minimal Debian tree
# (debootstrap from the archive apt uses, kept in TEST_BUILD/systemd-tree/pristine for the next run) with the
# package installed (dpkg -i with no systemd running: the postinst's path for chroots and containers), booted by
# systemd-nspawn in a private network, without CAP_SYS_TIME (nspawn's default), systemd-timesyncd masked. Inside,
# a test unit (horolan-test.service) runs the checks and ends the container with their count of failures:
#   - horolan-sync.service, started, runs the packaged program on the virtual clock (the tests' shim, preloaded by a
#     drop-in, which also names chronyd -x on 127.0.0.1 as the server) and sets that clock;
#   - under another time daemon (a unit named chrony.service) it is skipped, the clock untouched;
#   - horolan-sync.timer (OnActiveSec=2s in a drop-in) starts it, and the clock is set again.
# From the host: the container's journal (journalctl -D) has the runs, the skip's line and the timer's start, and
# /var/lib/horolan/registry.db (StateDirectory=) holds LastResult. The real clock is never touched.
#
#   scripts/check-systemd.sh PACKAGE.deb TEST_BUILD
# TEST_BUILD gives the virtual-clock shim (bin/libhorolan_vclock.so) and chronyd (peers/chrony, peers/debs).
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(realpath "${1:?usage: check-systemd.sh PACKAGE.deb TEST_BUILD}")
tests=$(realpath "${2:?usage: check-systemd.sh PACKAGE.deb TEST_BUILD}")
started=$SECONDS
fail() { echo "check-systemd: FAILED: $*" >&2; exit 1; }
ok() { echo "check-systemd: ok - $*"; }
for tool in debootstrap systemd-nspawn sqlite3 journalctl; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh tests)"
done
shim=$tests/bin/libhorolan_vclock.so
chrony_deb=$(ls "$tests"/peers/debs/chrony_*.deb 2>/dev/null | head -n 1 || true)
[ -f "$shim" ] && [ -x "$tests/peers/chrony/usr/sbin/chronyd" ] && [ -n "$chrony_deb" ] ||
  fail "no shim or chronyd in $tests (build with tests, scripts/fetch-peers.sh)"

# The tree: systemd, and the libraries the package and chronyd link with (lib* of their Depends).
libraries() { dpkg-deb -f "$1" Depends | tr ',|' '\n\n' | sed 's/(.*//; s/:any//' | awk '$1 ~ /^lib/ {print $1}'; }
include=$(printf '%s\n' systemd systemd-sysv dbus $(libraries "$deb") $(libraries "$chrony_deb") | sort -u |
  paste -sd,)
. /etc/os-release
mirror=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE)' 'Identifier: Packages' |
  awk -v suite="$VERSION_CODENAME" '$2 == suite {print $1; exit}')
[ -n "$mirror" ] || fail "apt knows no archive for $VERSION_CODENAME"
cache=$tests/systemd-tree
pristine=$cache/pristine
if [ "$(cat "$pristine.include" 2>/dev/null)" != "$include" ]; then
  rm -rf "$pristine" "$pristine.new" "$pristine.include"
  mkdir -p "$cache"
  debootstrap --variant=minbase --include="$include" "$VERSION_CODENAME" "$pristine.new" "$mirror" \
    > "$cache/debootstrap.log" 2>&1 || fail "debootstrap (see $cache/debootstrap.log)"
  mv "$pristine.new" "$pristine" && echo "$include" > "$pristine.include"
  ok "debootstrap $VERSION_CODENAME with $include"
fi

tree=$(mktemp -d /var/tmp/horolan-systemd.XXXXXX)
cgroups=()
for hierarchy in /sys/fs/cgroup /sys/fs/cgroup/*; do
  for leftover in payload supervisor; do
    [ -d "$hierarchy" ] && [ ! -e "$hierarchy/$leftover" ] && cgroups+=("$hierarchy/$leftover")
  done
done
# nspawn leaves empty cgroups "payload" (with "init.scope") and "supervisor" at the root of the host's hierarchies:
# removed when they were not there before.
cleanup() {
  rm -rf "$tree"
  local group
  for group in "${cgroups[@]}"; do
    [ ! -d "$group" ] || find "$group" -depth -type d -exec rmdir {} \; 2>/dev/null || true
  done
}
trap cleanup EXIT
cp -a "$pristine/." "$tree/"
ln -sf /dev/null "$tree/etc/systemd/system/systemd-timesyncd.service"
mkdir -p "$tree/opt/horolan-test" "$tree/var/lib/horolan-test"
cp "$deb" "$tree/opt/horolan-test/horolan.deb"
cp "$shim" "$tree/opt/horolan-test/"
cp -a "$tests/peers/chrony" "$tree/opt/horolan-test/chrony"
# Without CAP_SYS_TIME nspawn also filters out the clock's system calls; the reading ones are let through (the
# shim reads the kernel's clock state after a virtual step), and the kernel refuses any change for want of the
# capability.
nspawn=(systemd-nspawn -q -D "$tree" --private-network --register=no --keep-unit --link-journal=no
  --system-call-filter="clock_adjtime adjtimex")

# The package, installed where no systemd runs.
"${nspawn[@]}" --pipe dpkg -i /opt/horolan-test/horolan.deb > "$tree/opt/horolan-test/dpkg.log" 2>&1 </dev/null ||
  fail "dpkg -i in the tree: $(cat "$tree/opt/horolan-test/dpkg.log")"
grep -q '^horolan:x:.*:/nonexistent:/usr/sbin/nologin$' "$tree/etc/passwd" || fail "no user horolan in the tree"
ok "dpkg -i without a running systemd: user $(grep '^horolan:' "$tree/etc/passwd")"

# The test's drop-ins: the virtual clock and the server for the service (and the container's lack of
# CAP_SYS_TIME forgiven: the shim sets the virtual clock without it), a timer that fires 2 s after it is started.
mkdir -p "$tree/etc/systemd/system/horolan-sync.service.d" "$tree/etc/systemd/system/horolan-sync.timer.d"
cat > "$tree/etc/systemd/system/horolan-sync.service.d/test.conf" <<'EOF'
[Unit]
ConditionCapability=
[Service]
Environment=LD_PRELOAD=/opt/horolan-test/libhorolan_vclock.so HOROLAN_VCLOCK_FILE=/var/lib/horolan-test/offset
ReadWritePaths=/var/lib/horolan-test
ExecStart=
ExecStart=/usr/bin/horolan --silent --sntp --server=127.0.0.1 --metrics-file=/var/lib/horolan-test/horolan.prom
EOF
cat > "$tree/etc/systemd/system/horolan-sync.timer.d/test.conf" <<'EOF'
[Timer]
OnBootSec=
OnActiveSec=2s
RandomizedDelaySec=0
AccuracySec=100ms
EOF
printf '%s\n' "port 123" "bindaddress 127.0.0.1" "allow 127.0.0.1" "cmdport 0" "local stratum 8" \
  "driftfile /var/lib/horolan-test/drift" "pidfile /var/lib/horolan-test/chronyd.pid" \
  > "$tree/opt/horolan-test/chrony.conf"
cat > "$tree/etc/systemd/system/horolan-test.service" <<'EOF'
[Unit]
Description=Horolan's checks under systemd
[Service]
Type=simple
ExecStart=/opt/horolan-test/run.sh
StandardOutput=journal+console
[Install]
WantedBy=multi-user.target
EOF
ln -s /etc/systemd/system/horolan-test.service "$tree/etc/systemd/system/multi-user.target.wants/"
cat > "$tree/opt/horolan-test/run.sh" <<'EOF'
#!/bin/bash
# Inside the container: the checks; the container's systemd exits with the count of failures.
set -u
failures=0
say() { echo "horolan-test: $*"; }
check() { if "${@:2}"; then say "ok - $1"; else say "not ok - $1"; failures=$((failures + 1)); fi; }
offset=/var/lib/horolan-test/offset
set_offset_seconds() { echo "$(($1 * 1000000000))" > "$offset"; }
set_back() { local ns; ns=$(cat "$offset"); ns=${ns#-}; [ "$ns" -lt 500000000 ]; }
kept() { [ "$(cat "$offset")" = 100000000000 ]; }
show() { systemctl show --property="$2" --value "$1"; }

check "no CAP_SYS_TIME in the container" eval '! (( (0x$(awk "/CapBnd/ {print \$2}" /proc/1/status) >> 25) & 1 ))'
systemd-run --quiet --unit=horolan-test-chronyd /opt/horolan-test/chrony/usr/sbin/chronyd -x -d -u root \
  -f /opt/horolan-test/chrony.conf
answers() {
  env LD_PRELOAD=/opt/horolan-test/libhorolan_vclock.so HOROLAN_VCLOCK_FILE=/var/lib/horolan-test/probe \
    XDG_STATE_HOME=/tmp/probe XDG_CACHE_HOME=/tmp/probe /usr/bin/horolan --sntp --server=127.0.0.1 --only-show --silent
}
for _ in $(seq 100); do answers && break; sleep 0.1; done
check "chronyd -x answers on 127.0.0.1" answers

set_offset_seconds 100
systemctl start horolan-sync.service
check "horolan-sync.service: result $(show horolan-sync.service Result), status \
$(show horolan-sync.service ExecMainStatus)" \
  test "$(show horolan-sync.service Result)/$(show horolan-sync.service ExecMainStatus)" = success/0
check "horolan-sync.service set the virtual clock (offset $(cat "$offset") ns)" set_back
check "StateDirectory holds the registry" test -s /var/lib/horolan/registry.db

set_offset_seconds 100
systemd-run --quiet --unit=chrony.service sleep 300
systemctl start horolan-sync.service
check "under chrony.service: skipped, the clock kept (offset $(cat "$offset") ns)" kept
systemctl stop chrony.service

set_offset_seconds 100
before=$(show horolan-sync.service InvocationID)
systemctl start horolan-sync.timer
for _ in $(seq 300); do
  [ "$(show horolan-sync.service InvocationID)" != "$before" ] &&
    [ "$(show horolan-sync.service ActiveState)" != activating ] && break
  sleep 0.1
done
check "horolan-sync.timer fired: service run $(show horolan-sync.service InvocationID), result \
$(show horolan-sync.service Result)" test "$(show horolan-sync.service InvocationID)" != "$before"
check "the timer's run set the virtual clock (offset $(cat "$offset") ns)" set_back
say "$failures failed"
systemctl exit "$failures"
EOF
chmod 755 "$tree/opt/horolan-test/run.sh"

# The boot; the container ends itself (systemctl exit) with the count of failures.
status=0
timeout 150 "${nspawn[@]}" --boot --console=pipe </dev/null > "$tree/opt/horolan-test/console.log" 2>&1 ||
  status=$?
journal=(journalctl -D "$tree/var/log/journal" --no-pager -o short-precise)
"${journal[@]}" -u horolan-test.service -u horolan-sync.service -u horolan-sync.timer -u chrony.service \
  -u horolan-test-chronyd.service | grep -v -- '-- ' | sed 's/^/    /'
[ "$status" = 0 ] || fail "the container ended with $status (124: timed out): $(tail -5 "$tree/opt/horolan-test/console.log")"
ok "the checks inside the container passed"
"${journal[@]}" -u horolan-sync.service | grep -q 'horolan-sync: the clock is kept by chrony.service: not setting it' ||
  fail "no journal line of the skip"
[ "$("${journal[@]}" -u horolan-sync.service | grep -c 'Finished horolan-sync.service')" -ge 2 ] ||
  fail "the journal does not show two finished runs"
"${journal[@]}" -u horolan-sync.timer | grep -q 'Started horolan-sync.timer' ||
  fail "the journal does not show the timer"
ok "journal: the runs, the skip and the timer"
"${journal[@]}" -u horolan-sync.service | grep -E 'horolan\[[0-9]+\]: set the clock by .* from 127\.0\.0\.1 ' ||
  fail "no journal line of a run that set the clock, attributed to horolan-sync.service"
grep -q '^horolan_last_result{server="127.0.0.1"} 0$' "$tree/var/lib/horolan-test/horolan.prom" ||
  fail "the service's metrics file: $(cat "$tree/var/lib/horolan-test/horolan.prom" 2>&1)"
ok "the journal line of a run and its metrics file: $(grep -c '^horolan_' "$tree/var/lib/horolan-test/horolan.prom") series"
grep '^horolan_' "$tree/var/lib/horolan-test/horolan.prom" | sed 's/^/    /'
last=$(sqlite3 "$tree/var/lib/horolan/registry.db" "SELECT hex(data) FROM registry WHERE
  lower(ltrim(key, '\\')) = lower('Software\\QV\\horol') AND lower(value) = 'lastresult'")
[ -n "$last" ] || fail "no LastResult in /var/lib/horolan/registry.db"
ok "/var/lib/horolan/registry.db: LastResult $last"
ok "done in $((SECONDS - started)) s"

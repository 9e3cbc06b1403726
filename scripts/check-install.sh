#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# What a user and a packager get from a build, checked (as root):
#   1. `cmake --install` into a staging folder (DESTDIR) for the prefix /opt/horolan: every file in its place,
#      ExecStart naming /opt/horolan/bin/horolan; hardening-check, systemd-analyze verify and the man page clean,
#      the service's exposure (systemd-analyze security) 2.5 or lower;
#   2. the installed executable run from there on the virtual clock in a private namespace: a daytime run against
#      a local NIST line and an SNTP run against chronyd, both setting the virtual clock;
#   3. the distribution's package: a build beside RELEASE_BUILD (RELEASE_BUILD-package: RelWithDebInfo, Debian's
#      -O2 -g, with HOROLAN_SHARED_RUNTIME=ON, without tests) packed by `cpack -G DEB` with its dbgsym package;
#      lintian -EvIL +pedantic without any E: or W: tag; dpkg -i gives a working /usr/bin/horolan (--version, show-only runs as in 2.), the user "horolan",
#      /etc/horolan/horolan.txt as a conffile with the default text,
#      units that verify, a condition that skips under another time daemon; dpkg -r keeps the state, dpkg -P
#      removes it with the system configuration file, and leaves the file system as it found it;
#   4. that package's service and timer under a real systemd (scripts/check-systemd.sh).
# Any missing piece fails; nothing is skipped.
#
#   scripts/check-install.sh RELEASE_BUILD TEST_BUILD
# TEST_BUILD gives the virtual-clock shim (bin/libhorolan_vclock.so) and the unpacked peers (peers/).
set -euo pipefail
cd "$(dirname "$0")/.."
here=$PWD

# Inside the namespace (run by tests/e2e/in_namespace.sh): the runs of step 2.
if [ -n "${HOROLAN_INSTALLED:-}" ]; then
  set +e +o pipefail  # as in every end-to-end script: a failed check is counted, not fatal
  source tests/e2e/lib.sh
  APP=$HOROLAN_INSTALLED
  show=()
  [ "${HOROLAN_SHOW_ONLY:-}" = 1 ] && show=(--only-show)
  moved() { [ "$(offset_ns)" != 0 ] || [ ${#show[@]} -gt 0 ]; }
  fake_peer 13 line $'\n64754 35-11-30 12:34:56 00 0 0 50.0 UTC(NIST) * \n'
  set_offset_seconds 0
  run --nist --server=daytime.e2e.test "${show[@]}"
  check "$APP/horolan: daytime run, exit 0" eval '[ "$(status)" = 0 ] && out_has "Server daytime.e2e.test:13" && moved'
  start_ready_chrony
  set_offset_seconds 100
  run --sntp --server=127.0.0.1 "${show[@]}"
  check "$APP/horolan: SNTP run against chronyd, exit 0" eval '[ "$(status)" = 0 ] && out_has "Server 127.0.0.1" &&
    { [ ${#show[@]} -gt 0 ] || [ "$(abs "$(offset_ns)")" -lt 100000000 ]; }'
  finish && exit 0
  exit 1
fi

release=$(realpath "${1:?usage: check-install.sh RELEASE_BUILD TEST_BUILD}")
tests=$(realpath "${2:?usage: check-install.sh RELEASE_BUILD TEST_BUILD}")
work=$(mktemp -d /tmp/horolan-install.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "check-install: FAILED: $*" >&2; exit 1; }
ok() { echo "check-install: ok - $*"; }
# in_namespace INSTALLED_BIN [1]: step 2 for that folder (1: show-only); a skip is a failure here.
in_namespace() {
  HOROLAN_BIN=$tests/bin HOROLAN_INSTALLED=$1 HOROLAN_SHOW_ONLY=${2:-} \
    bash tests/e2e/in_namespace.sh "$here/scripts/check-install.sh" || fail "runs of $1/horolan (status $?)"
}
# The executable's and the modules' hardening (for the modules PIE does not apply). One exception, outside what a
# build can change: Debian 12's C start files (Scrt1.o, crti.o, crtn.o) carry no CET property, so no program linked
# here is marked for control-flow protection however its own code is compiled (/bin/ls is not either).
hardened() {
  local file
  for file in "$@"; do
    hardening-check --nocfprotection "$file" || fail "hardening-check $file"
  done
}

# 1. The install.
prefix=/opt/horolan
stage=$work/stage
DESTDIR=$stage cmake --install "$release" --prefix "$prefix" >/dev/null
root=$stage$prefix
units=$root/lib/systemd/system
for file in bin/horolan lib/horolan/libhorolan_url.so lib/horolan/libhorolan_tui.so lib/horolan/libhorolan_nts.so \
    lib/horolan/libhorolan_nm.so share/man/man1/horolan.1 share/doc/horolan/copyright lib/systemd/system/horolan-sync.service \
    lib/systemd/system/horolan-sync.timer libexec/horolan/no-other-time-daemon lib/sysusers.d/horolan.conf \
    etc/horolan/horolan.txt; do
  [ -f "$root/$file" ] || fail "not installed: $prefix/$file"
done
grep -qx "ExecStart=$prefix/bin/horolan --silent --sntp" "$units/horolan-sync.service" ||
  fail "ExecStart does not name $prefix/bin/horolan: $(grep ExecStart "$units/horolan-sync.service")"
grep -qx "ExecStart=$prefix/bin/horolan --silent --nts --max-step=any" "$units/horolan-boot-sync.service" ||
  fail "the first sync after boot is not authenticated with any step: $(grep ExecStart "$units/horolan-boot-sync.service")"
grep -qx "ExecCondition=+$prefix/libexec/horolan/no-other-time-daemon" "$units/horolan-sync.service" ||
  fail "ExecCondition does not name $prefix/libexec/horolan: $(grep ExecCondition "$units/horolan-sync.service")"
ok "installed into DESTDIR for $prefix, units for $prefix"
hardened "$root/bin/horolan" "$root"/lib/horolan/*.so
# systemd-analyze checks ExecStart on this file system: an install without DESTDIR into a prefix of its own (the
# man page is checked with the package, where man finds it).
cmake --install "$release" --prefix "$work/prefix" >/dev/null
systemd-analyze verify --man=no "$work/prefix/lib/systemd/system/horolan-sync.service" \
  "$work/prefix/lib/systemd/system/horolan-sync.timer" > "$work/verify" 2>&1 || true
[ ! -s "$work/verify" ] || fail "systemd-analyze verify: $(cat "$work/verify")"
ok "systemd-analyze verify clean"
exposure=$(systemd-analyze security --offline=yes "$work/prefix/lib/systemd/system/horolan-sync.service" 2>&1 |
  sed -n 's/.*Overall exposure level for horolan-sync.service: \([0-9.]*\).*/\1/p')
[ -n "$exposure" ] && [ "$(echo "$exposure <= 2.5" | bc)" = 1 ] ||
  fail "systemd-analyze security: exposure ${exposure:-unknown}, above 2.5"
ok "systemd-analyze security: exposure $exposure"
warnings=$(groff -man -Tutf8 -ww -z "$root/share/man/man1/horolan.1" 2>&1; MANWIDTH=80 man --warnings -l \
  "$root/share/man/man1/horolan.1" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "man page warnings: $warnings"
ok "man page without warnings"

# 2. Runs from the install folder.
in_namespace "$root/bin"

# 3. The package, from a build that links SQLite and the C++ runtime dynamically.
package=$release-package
werror=$(sed -n 's/^HOROLAN_WERROR:BOOL=//p' "$release/CMakeCache.txt")
generator=$(sed -n 's/^CMAKE_GENERATOR:INTERNAL=//p' "$release/CMakeCache.txt")
cmake -S "$here" -B "$package" -G "$generator" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHOROLAN_WERROR="${werror:-OFF}" \
  -DHOROLAN_SHARED_RUNTIME=ON -DHOROLAN_TESTS=OFF -DHOROLAN_BENCH=OFF >/dev/null || fail "configure $package"
cmake --build "$package" >/dev/null || fail "build $package"
rm -f "$package"/horolan_*.deb "$package"/horolan-dbgsym_*.ddeb
(cd "$package" && cpack -G DEB > "$work/cpack.log" 2>&1) || fail "cpack -G DEB: $(cat "$work/cpack.log")"
deb=$(ls "$package"/horolan_*.deb)
dpkg-deb -f "$deb" Depends > "$work/depends"
for library in libc6 libsqlite3-0 libstdc++6; do
  grep -q "$library" "$work/depends" || fail "$deb does not depend on $library: $(cat "$work/depends")"
done
dpkg-deb -c "$deb" > "$work/contents"
for file in usr/bin/horolan usr/lib/horolan/libhorolan_nts.so usr/lib/horolan/libhorolan_url.so \
    usr/lib/horolan/libhorolan_tui.so usr/lib/horolan/libhorolan_nm.so usr/share/man/man1/horolan.1.gz \
    usr/share/doc/horolan/changelog.gz usr/share/doc/horolan/copyright usr/libexec/horolan/no-other-time-daemon \
    usr/lib/sysusers.d/horolan.conf lib/systemd/system/horolan-sync.service lib/systemd/system/horolan-sync.timer \
    etc/horolan/horolan.txt; do
  grep -q " ./$file\$" "$work/contents" || fail "$deb lacks /$file"
done
ok "$(basename "$deb"): Depends: $(cat "$work/depends")"
# Stripped, each binary with a debug link to its debug information in the dbgsym package, found by build id.
dpkg-deb -x "$deb" "$work/unpacked"
dbgsym=$(ls "$package"/horolan-dbgsym_*.ddeb) || fail "no dbgsym package beside $deb"
dpkg-deb -c "$dbgsym" > "$work/dbgsym"
for file in "$work/unpacked"/usr/bin/horolan "$work/unpacked"/usr/lib/horolan/*.so; do
  id=$(readelf -n "$file" | sed -n 's/.*Build ID: //p')
  readelf -S "$file" > "$work/sections"
  grep -q '\.gnu_debuglink' "$work/sections" && ! grep -q '\.debug_info\|\.comment\|\.symtab' "$work/sections" ||
    fail "$file: not stripped to a debug link"
  grep -q " ./usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug\$" "$work/dbgsym" ||
    fail "$(basename "$dbgsym") lacks the debug information of ${file#"$work/unpacked"}"
done
ok "stripped binaries, their debug information in $(basename "$dbgsym")"
# lintian as a distribution runs it, every tag shown; E: or W: fails (root: lintian only reads the package).
lintian -EvIL +pedantic "$deb" 2>/dev/null | grep -v '^N:' > "$work/lintian" || true
grep -q '^[EW]: ' "$work/lintian" && fail "lintian: $(cat "$work/lintian")"
ok "lintian -EvIL +pedantic: no E: or W: tag, $(grep -c . "$work/lintian") other"
sed 's/^/    /' "$work/lintian"

if dpkg-query -W -f='${Status}' horolan 2>/dev/null | grep -q 'ok installed\|config-files'; then
  fail "a horolan package is installed on this machine already: not replaced by a test"
fi
# Everything a package can touch, listed before and after; the package manager's own records excepted.
listing() {
  find /usr /etc /lib /opt /var -xdev \( -path /var/lib/dpkg -o -path /var/cache/apt -o -path /var/log \
    -o -path /var/tmp -o -path /var/cache/man -o -path /var/lib/apt \) -prune -o -print 2>/dev/null | sort
}
listing > "$work/before"
had_user=0
getent passwd horolan >/dev/null && had_user=1
dpkg -i "$deb" >/dev/null || fail "dpkg -i $deb"
purged=0
# The package keeps the user horolan when purged, as Debian keeps system users; the test removes the one it made.
purge() {
  [ "$purged" = 1 ] || { purged=1; dpkg -P horolan >/dev/null; }
  [ "$had_user" = 1 ] || ! getent passwd horolan >/dev/null || userdel horolan
}
trap 'purge; rm -rf "$work"' EXIT
user=$(getent passwd horolan) || fail "dpkg -i created no user horolan"
[[ $user == horolan:x:*:*:*:/nonexistent:/usr/sbin/nologin ]] || fail "the user horolan: $user"
uid=$(id -u horolan)
[ "$uid" -lt 1000 ] && [ "$(id -gn horolan)" = horolan ] || fail "horolan is no system user with its group: $(id horolan)"
ok "user horolan: $user"
setpriv --bounding-set -sys_time --inh-caps -sys_time env LD_PRELOAD="$tests/bin/libhorolan_vclock.so" \
  HOROLAN_VCLOCK_FILE="$work/offset" /usr/bin/horolan --version || fail "/usr/bin/horolan --version"
dpkg-query -W -f='${Conffiles}' horolan | grep -q '^ /etc/horolan/horolan.txt [0-9a-f]*$' &&
  cmp -s /etc/horolan/horolan.txt "$root/etc/horolan/horolan.txt" ||
  fail "/etc/horolan/horolan.txt is no conffile holding the default text"
grep -qx "ExecStart=/usr/bin/horolan --silent --sntp" /lib/systemd/system/horolan-sync.service ||
  fail "the package's ExecStart does not name /usr/bin/horolan"
systemd-analyze verify /lib/systemd/system/horolan-sync.service /lib/systemd/system/horolan-sync.timer \
  > "$work/verify" 2>&1 || true
[ ! -s "$work/verify" ] || fail "systemd-analyze verify of the package's units: $(cat "$work/verify")"
# The service's condition, in a process namespace of its own: a time daemon that keeps the clock (here a process
# named ntpd) makes it say so and skip; a chronyd -x, which leaves the clock alone, or none at all does not.
# (Copies of bash under those names, which wait and take any argument.)
mkdir -p "$work/daemons" && cp /bin/bash "$work/daemons/ntpd" && cp /bin/bash "$work/daemons/chronyd"
condition=$(unshare --pid --fork --mount-proc bash -c '
  "$1/ntpd" -c "sleep 30; :" & sleep 0.2; /usr/libexec/horolan/no-other-time-daemon; echo "status $?"; kill $!
  "$1/chronyd" -c "sleep 30; :" -x & sleep 0.2; /usr/libexec/horolan/no-other-time-daemon; echo "status $?"; kill $!
  /usr/libexec/horolan/no-other-time-daemon; echo "status $?"' - "$work/daemons" 2>&1)
[[ $(tr '\n' '|' <<< "$condition") == \
  "horolan-sync: the clock is kept by ntpd (pid "*"): not setting it|status 1|status 0|status 0|" ]] ||
  fail "the service's condition: $condition"
ok "the service's condition: skips under ntpd, runs beside chronyd -x and alone"
in_namespace /usr/bin 1

# dpkg -r keeps the state and the system configuration; dpkg -P removes them, and the file system is as before.
mkdir -p /var/lib/horolan /var/cache/horolan/web /etc/horolan
echo x > /var/lib/horolan/registry.db && echo x > /var/cache/horolan/web/page && echo '#SNTP' > /etc/horolan/horolan.txt
dpkg -r horolan >/dev/null || fail "dpkg -r horolan"
[ -f /var/lib/horolan/registry.db ] && [ -f /etc/horolan/horolan.txt ] && [ ! -e /usr/bin/horolan ] ||
  fail "dpkg -r removed the state or kept the program"
dpkg-query -W -f='${Status}' horolan | grep -q config-files || fail "dpkg -r: $(dpkg-query -W -f='${Status}' horolan)"
purge
listing > "$work/after"
diff "$work/before" "$work/after" || fail "dpkg -P left the file system changed (above)"
! ls /var/lib/dpkg/info/horolan.* 2>/dev/null || fail "dpkg -P left the package's records behind (above)"
ok "dpkg -i, runs, dpkg -r keeps the state, dpkg -P: nothing left behind"

# 4. The service and the timer under a real systemd.
bash scripts/check-systemd.sh "$deb" "$tests" || fail "the service under a real systemd"

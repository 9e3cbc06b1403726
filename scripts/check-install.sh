#!/usr/bin/env bash
# What a user and a packager get from a build, checked (as root):
#   1. `cmake --install` into a staging folder (DESTDIR) for the prefix /opt/horolan: every file in its place,
#      ExecStart naming /opt/horolan/bin/horolan; hardening-check, systemd-analyze verify and the man page clean;
#   2. the installed executable run from there on the virtual clock in a private namespace: a daytime run against
#      a local NIST line and an SNTP run against chronyd, both setting the virtual clock;
#   3. `cpack -G DEB`: dpkg -i gives a working /usr/bin/horolan (--version, show-only runs as in 2.), and dpkg -r
#      leaves the file system as it found it.
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
  fake_peer 13 line $'\n54800 08-11-30 12:34:56 00 0 0 50.0 UTC(NIST) * \n'
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
    lib/systemd/system/horolan-sync.timer; do
  [ -f "$root/$file" ] || fail "not installed: $prefix/$file"
done
grep -qx "ExecStart=$prefix/bin/horolan --silent --sntp" "$units/horolan-sync.service" ||
  fail "ExecStart does not name $prefix/bin/horolan: $(grep ExecStart "$units/horolan-sync.service")"
ok "installed into DESTDIR for $prefix, units for $prefix"
hardened "$root/bin/horolan" "$root"/lib/horolan/*.so
# systemd-analyze checks ExecStart on this file system: an install without DESTDIR into a prefix of its own (the
# man page is checked with the package, where man finds it).
cmake --install "$release" --prefix "$work/prefix" >/dev/null
systemd-analyze verify --man=no "$work/prefix/lib/systemd/system/horolan-sync.service" \
  "$work/prefix/lib/systemd/system/horolan-sync.timer" > "$work/verify" 2>&1 || true
[ ! -s "$work/verify" ] || fail "systemd-analyze verify: $(cat "$work/verify")"
ok "systemd-analyze verify clean"
warnings=$(groff -man -Tutf8 -ww -z "$root/share/man/man1/horolan.1" 2>&1; MANWIDTH=80 man --warnings -l \
  "$root/share/man/man1/horolan.1" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "man page warnings: $warnings"
ok "man page without warnings"

# 2. Runs from the install folder.
in_namespace "$root/bin"

# 3. The package.
(cd "$release" && cpack -G DEB >/dev/null) || fail "cpack -G DEB"
deb=$(ls "$release"/horolan_*.deb)
dpkg-deb -f "$deb" Depends > "$work/depends"
grep -q libc6 "$work/depends" || fail "no computed dependencies in $deb"
dpkg-deb -c "$deb" > "$work/contents"
for file in usr/bin/horolan usr/lib/horolan/libhorolan_nts.so usr/lib/horolan/libhorolan_url.so \
    usr/lib/horolan/libhorolan_tui.so usr/lib/horolan/libhorolan_nm.so usr/share/man/man1/horolan.1 lib/systemd/system/horolan-sync.timer; do
  grep -q " ./$file\$" "$work/contents" || fail "$deb lacks /$file"
done
ok "$(basename "$deb"): Depends: $(dpkg-deb -f "$deb" Depends)"
if dpkg-query -W -f='${Status}' horolan 2>/dev/null | grep -q 'install ok installed'; then
  fail "a horolan package is installed on this machine already: not replaced by a test"
fi
# Everything a package can touch, listed before and after; the package manager's own records excepted.
listing() {
  find /usr /etc /lib /opt /var -xdev \( -path /var/lib/dpkg -o -path /var/cache/apt -o -path /var/log \
    -o -path /var/tmp -o -path /var/cache/man -o -path /var/lib/apt \) -prune -o -print 2>/dev/null | sort
}
listing > "$work/before"
dpkg -i "$deb" >/dev/null || fail "dpkg -i $deb"
removed=0
remove() { [ "$removed" = 1 ] || { removed=1; dpkg -r horolan >/dev/null; }; }
trap 'remove; rm -rf "$work"' EXIT
setpriv --bounding-set -sys_time --inh-caps -sys_time env LD_PRELOAD="$tests/bin/libhorolan_vclock.so" \
  HOROLAN_VCLOCK_FILE="$work/offset" /usr/bin/horolan --version || fail "/usr/bin/horolan --version"
grep -qx "ExecStart=/usr/bin/horolan --silent --sntp" /lib/systemd/system/horolan-sync.service ||
  fail "the package's ExecStart does not name /usr/bin/horolan"
systemd-analyze verify /lib/systemd/system/horolan-sync.service /lib/systemd/system/horolan-sync.timer \
  > "$work/verify" 2>&1 || true
[ ! -s "$work/verify" ] || fail "systemd-analyze verify of the package's units: $(cat "$work/verify")"
in_namespace /usr/bin 1
remove
listing > "$work/after"
diff "$work/before" "$work/after" || fail "dpkg -r left the file system changed (above)"
! ls /var/lib/dpkg/info/horolan.* 2>/dev/null || fail "dpkg -r left the package's records behind (above)"
ok "dpkg -i, runs, dpkg -r: nothing left behind"

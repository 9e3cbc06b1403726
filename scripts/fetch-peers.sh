#!/usr/bin/env bash
# Unpacks the peers the tests and benchmarks run into BUILD_DIR/peers/NAME
# (as root, Debian 12): chronyd, lighttpd with its TLS module, xinetd,
# NetworkManager with a D-Bus daemon for its private bus, the SNTP
# clients bench/compare_clients.sh compares with, and promtool (from
# prometheus) that checks the metrics file. Their Debian
# packages are downloaded (apt-get download) and unpacked (dpkg -x), never
# installed: nothing is enabled, started or replaced on this machine. Only
# the shared libraries they link with are installed as packages.
#
#   scripts/fetch-peers.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
peers=$(realpath -m "${1:-build}")/peers

# NAME: the packages unpacked together into peers/NAME (ntpdig, the SNTP
# client, and ntpdate, its wrapper, are Python: they need PYTHONPATH set to
# peers/ntpsec/usr/lib/python3/dist-packages).
declare -A unpack=(
  [chrony]="chrony"
  [lighttpd]="lighttpd lighttpd-mod-openssl"
  [xinetd]="xinetd"
  [networkmanager]="network-manager dbus-daemon"
  [ntpsec]="ntpsec-ntpdig ntpsec-ntpdate python3-ntp"
  [prometheus]="prometheus"
)

mkdir -p "$peers/debs"
libraries=()
for name in "${!unpack[@]}"; do
  [ -f "$peers/$name/.unpacked" ] && continue
  rm -rf "${peers:?}/$name" && mkdir -p "$peers/$name"
  for package in ${unpack[$name]}; do
    deb=$(ls "$peers/debs/${package}"_*.deb 2>/dev/null | head -n 1 || true)
    if [ -z "$deb" ]; then
      (cd "$peers/debs" && apt-get download -qq "$package" >/dev/null 2>&1) ||
        { apt-get update -qq && (cd "$peers/debs" && apt-get download -qq "$package" >/dev/null); }
      deb=$(ls "$peers/debs/${package}"_*.deb | head -n 1)
    fi
    dpkg -x "$deb" "$peers/$name"
    # Shared libraries it links with (lib* in Depends), installed as packages.
    for dep in $(dpkg-deb -f "$deb" Depends | tr ',|' '\n\n' | sed 's/(.*//; s/:any//' | awk '{print $1}'); do
      case $dep in libjs-*) ;; lib*) libraries+=("$dep") ;; esac  # not the web console's scripts
    done
  done
  touch "$peers/$name/.unpacked"
done

missing=()
for p in $(printf '%s\n' "${libraries[@]}" | sort -u); do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "fetch-peers: installing the peers' libraries ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
echo "fetch-peers: peers unpacked in $peers"

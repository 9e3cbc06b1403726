#!/usr/bin/env bash
# Installs with apt-get, on Debian 12 as root, what is missing for a purpose:
#
#   scripts/install-deps.sh          building and running horolan
#   scripts/install-deps.sh tests    also the tests, benchmarks and package checks
#   scripts/install-deps.sh fuzz     also clang for fuzz/run.sh
#
# Only libraries and tools are installed: the daemons the tests run as peers
# are unpacked into the build by scripts/fetch-peers.sh, never installed as
# the machine's services. Nothing running is stopped, killed or reconfigured.
set -euo pipefail

build=(build-essential cmake ninja-build pkg-config g++
       libsqlite3-dev libcurl4-openssl-dev libncurses-dev libssl-dev ca-certificates
       libseccomp-dev libsystemd-dev)
tests=(libgtest-dev libgmock-dev libbenchmark-dev sqlite3 curl tmux openssl
       iproute2 util-linux procps python3 bc groff-base man-db systemd devscripts
       lintian debootstrap systemd-container clang-format-14)
fuzz=(clang libclang-rt-14-dev)

packages=("${build[@]}")
for purpose in "$@"; do
  case $purpose in
    tests) packages+=("${tests[@]}") ;;
    fuzz) packages+=("${fuzz[@]}") ;;
    *) echo "install-deps: unknown purpose '$purpose' (tests, fuzz)" >&2; exit 2 ;;
  esac
done

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: run as root (apt-get)" >&2
  exit 1
fi

# Earlier versions of this script left a policy-rc.d behind that refused every
# service start, also for later upgrades of the machine's packages. Remove it,
# but only when it is that file, word for word.
ours=$'#!/bin/sh\n# Horolan tests: packaged daemons never start by themselves.\nexit 101'
if [ -f /usr/sbin/policy-rc.d ] && [ "$(cat /usr/sbin/policy-rc.d)" = "$ours" ]; then
  rm -f /usr/sbin/policy-rc.d
  echo "install-deps: removed the policy-rc.d an earlier version of this script left behind"
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

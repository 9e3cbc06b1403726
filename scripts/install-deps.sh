#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, as root.
# Packaged daemons (chrony, lighttpd, xinetd) must never start on their own:
# a packaged chronyd would discipline this machine's clock. A policy-rc.d
# that refuses every start is put in place before anything is installed.
set -euo pipefail

packages=(
  build-essential cmake ninja-build g++ clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libsqlite3-dev sqlite3 libcurl4-openssl-dev curl libncurses-dev libseccomp-dev
  tmux chrony lighttpd xinetd iproute2 util-linux procps python3
  lighttpd-mod-openssl openssl ca-certificates libssl-dev
)

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: run as root (apt-get)" >&2
  exit 1
fi

if [ ! -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\n# Horolan tests: packaged daemons never start by themselves.\nexit 101\n' > /usr/sbin/policy-rc.d
  chmod 755 /usr/sbin/policy-rc.d
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

# No packaged daemon may run: tests start their own instances.
for daemon in chronyd lighttpd xinetd; do
  if pgrep -x "$daemon" >/dev/null; then
    echo "install-deps: stopping a running $daemon that the tests did not start" >&2
    pkill -x "$daemon" || true
  fi
done

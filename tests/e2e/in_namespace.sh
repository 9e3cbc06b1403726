#!/usr/bin/env bash
# Runs an end-to-end script without the right to set the clock, in private
# network and mount namespaces. Exit 77 (skipped) where that is impossible.
script=${1:?usage: in_namespace.sh SCRIPT}
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIPPED: end-to-end tests need root for namespaces"
  exit 77
fi
if ! unshare -n -m --propagation private true 2>/dev/null; then
  echo "SKIPPED: network namespaces are unavailable here"
  exit 77
fi
exec setpriv --bounding-set -sys_time --inh-caps -sys_time \
  unshare -n -m --propagation private bash "$script"

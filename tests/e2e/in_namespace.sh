#!/usr/bin/env bash
# Runs an end-to-end script without the right to set the clock, in private
# network and mount namespaces. Exit 77 (skipped) where that is impossible.
script=${1:?usage: in_namespace.sh SCRIPT}
[ "$(id -u)" -eq 0 ] && unshare -n -m --propagation private true 2>/dev/null ||
  { echo "SKIPPED: end-to-end tests need root and network namespaces"; exit 77; }
exec setpriv --bounding-set -sys_time --inh-caps -sys_time \
  unshare -n -m --propagation private bash "$script"

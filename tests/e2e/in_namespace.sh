#!/usr/bin/env bash
# Runs an end-to-end script without the right to set the clock, in private
# network and mount namespaces where everything but the temporary folders
# and the kernel's interfaces is read-only (HOROLAN_SANDBOX, built with the
# tests), in a PID namespace that ends all it started when it ends (even at
# ctest's time limit). Exit 77 (skipped) where that is impossible.
script=${1:?usage: in_namespace.sh SCRIPT}
sandbox=${HOROLAN_SANDBOX:-$HOROLAN_BIN/../tests/sandbox/horolan_read_only_root_exec}
[ "$(id -u)" -eq 0 ] && unshare -n -m -p -f --mount-proc --propagation private true 2>/dev/null ||
  { echo "SKIPPED: end-to-end tests need root and network namespaces"; exit 77; }
[ -x "$sandbox" ] || { echo "in_namespace.sh: no sandbox at $sandbox"; exit 1; }
exec setpriv --bounding-set -sys_time --inh-caps -sys_time \
  unshare -n -p -f --kill-child --mount-proc "$sandbox" bash "$script"

#!/bin/sh
# SPDX-License-Identifier: MIT
# The layering check the build runs before it compiles any layer: a file of a
# layer may include its own folder and the layers it uses, nothing else of
# the program's and nothing of the tests. Every header is found from the
# project root, so without this an upward include would build and link.
#
# check-layers.sh ROOT STAMP LAYER=USED,USED... ...
# (the layers and their uses are those of horolan_layer in CMakeLists.txt)
set -eu
root=$1
stamp=$2
shift 2

known=tests,bench,fuzz
for spec in "$@"; do known="$known,${spec%%=*}"; done

status=0
for spec in "$@"; do
  layer=${spec%%=*}
  uses=${spec#*=}
  files=$(cd "$root" && find "$layer" -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.c' -o -name '*.in' \) | sort)
  [ -n "$files" ] || continue
  (cd "$root" && awk -v layer="$layer" -v uses="$uses" -v known="$known" '
    BEGIN {
      split(known, k, ",")
      for (i in k) isKnown[k[i]] = 1
      split(uses, u, ",")
      for (i in u) allowed[u[i]] = 1
      allowed[layer] = 1
      shown = uses == "" ? "no other layer" : uses
      gsub(/,/, ", ", shown)
    }
    /^[ \t]*#[ \t]*include[ \t]*["<][a-z_]+\// {
      match($0, /["<][a-z_]+\//)
      folder = substr($0, RSTART + 1, RLENGTH - 2)
      if ((folder in isKnown) && !(folder in allowed)) {
        printf "%s:%d: error: the %s layer may not include %s/ (it uses %s: horolan_layer in CMakeLists.txt)\n",
               FILENAME, FNR, layer, folder, shown
        bad = 1
      }
    }
    END { exit bad }' $files) || status=1
done

[ "$status" -eq 0 ] || exit 1
touch "$stamp"

#!/usr/bin/env bash
# Formats every C and C++ file of the tree with .clang-format (clang-format 14,
# Debian 12's). With --check it changes nothing and fails, listing the files
# that differ: CI's check that the tree is formatted.
set -euo pipefail
cd "$(dirname "$0")/.."
format=$(command -v clang-format-14 || command -v clang-format) ||
  { echo "format.sh: clang-format is not installed (apt-get install clang-format-14)" >&2; exit 2; }
mapfile -t files < <(git ls-files -- '*.c' '*.cpp' '*.h')
if [ "${1:-}" != --check ]; then
  "$format" -i "${files[@]}"
  exit 0
fi
unformatted=()
for file in "${files[@]}"; do
  "$format" "$file" | cmp -s - "$file" || unformatted+=("$file")
done
[ ${#unformatted[@]} -eq 0 ] && exit 0
printf 'not formatted (run scripts/format.sh): %s\n' "${unformatted[@]}" >&2
exit 1

#!/usr/bin/env bash
# Formats the C and C++ files of the product and the benchmarks with
# .clang-format (clang-format 14, Debian 12's). With --check it changes
# nothing and fails, listing the files that differ: the test command's check.
# tests/ and fuzz/ keep their own layout until their rewrite to one action a
# line fits the test share (formatted as they are, they would grow by a sixth).
set -euo pipefail
cd "$(dirname "$0")/.."
format=$(command -v clang-format-14 || command -v clang-format) ||
  { echo "format.sh: clang-format is not installed (apt-get install clang-format-14)" >&2; exit 2; }
mapfile -t files < <(git ls-files -- '*.c' '*.cpp' '*.h' ':!tests/' ':!fuzz/')
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

#!/usr/bin/env bash
# Checks that the C and C++ sources are as .clang-format lays them out
# (Debian's clang-format); prints each file that differs and exits 1.
# With --fix, rewrites them instead.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
mapfile -t files < <(git ls-files -- 'src/*.c' 'src/*.cpp' 'src/*.h' \
  'include/*.h' 'tests/*.c' 'tests/*.cpp' 'tests/*.h' 'bench/*.c' 'bench/*.cpp')
if [ "${1:-}" = --fix ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
differ=0
for f in "${files[@]}"; do
  if ! clang-format --dry-run --Werror "$f" 2>/dev/null; then
    echo "format: $f differs from .clang-format (scripts/format.sh --fix)"
    differ=$((differ + 1))
  fi
done
echo "format: $((${#files[@]} - differ)) of ${#files[@]} files laid out as .clang-format says"
[ "$differ" -eq 0 ]

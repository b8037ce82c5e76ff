#!/usr/bin/env bash
# Fails when a tracked C++ file differs from what .clang-format makes of it, naming each one.
# With --fix, rewrites those files in place instead.
set -euo pipefail
cd "$(dirname "$0")/.."

fix=false
case "${1:-}" in
  --fix) fix=true ;;
  "") ;;
  *) echo "usage: tools/check-format.sh [--fix]" >&2; exit 2 ;;
esac

mapfile -d '' files < <(git ls-files -z -- '*.cpp' '*.h')
if $fix; then
  clang-format --style=file -i "${files[@]}"
  exit 0
fi

differing=()
for file in "${files[@]}"; do
  if ! clang-format --style=file "$file" | cmp -s - "$file"; then differing+=("$file"); fi
done
if ((${#differing[@]})); then
  echo "These files differ from .clang-format (run tools/check-format.sh --fix):" >&2
  printf '  %s\n' "${differing[@]}" >&2
  exit 1
fi
echo "format: ${#files[@]} files as .clang-format writes them"

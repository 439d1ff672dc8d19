#!/usr/bin/env bash
# Fails when a C/C++ source differs from clang-format's output (--fix rewrites them).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
mapfile -t files < <(git ls-files -- 'src/*' 'include/*' 'platform/*' 'tools/*' 'tests/*' 'bench/*' 'fuzz/*' \
  | grep -E '\.(c|cc|cpp|h|hpp)$' || true)
[ ${#files[@]} -eq 0 ] && exit 0
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
else
  clang-format --dry-run --Werror "${files[@]}"
  echo "format: ${#files[@]} files clean"
fi

#!/usr/bin/env bash
# Fails when a C or C++ file of ours differs from what clang-format makes of it.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files --cached --others --exclude-standard '*.cpp' '*.h' '*.c' |
  while read -r f; do [ -f "$f" ] && echo "$f"; done)
if ! clang-format --style=file --dry-run -Werror "${files[@]}"; then
  echo "format: the files above differ from .clang-format (fix: clang-format -i FILE)"
  exit 1
fi
echo "format: ${#files[@]} files follow .clang-format"

#!/usr/bin/env bash
# Fails when a C or C++ file of ours differs from what clang-format makes of it.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files --cached --others --exclude-standard \
  '*.cpp' '*.h' '*.c' | grep -v '^build/')
bad=0
for f in "${files[@]}"; do
  [ -f "$f" ] || continue
  if ! clang-format --style=file "$f" | cmp -s - "$f"; then
    echo "format: $f differs from clang-format (run: clang-format -i $f)"
    bad=1
  fi
done
[ $bad -eq 0 ] && echo "format: ${#files[@]} files follow .clang-format"
exit $bad

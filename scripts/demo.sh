#!/usr/bin/env bash
# The main job: set up, build both DLLs, and show what each is and exports.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
for preset in mingw-i686 mingw-x86_64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
done

for preset in mingw-i686 mingw-x86_64; do
  dll="build/$preset/WebCorvaneBHO.dll"
  objdump="${preset#mingw-}-w64-mingw32-objdump"
  echo "== $dll"
  "$objdump" -f "$dll" | sed -n 's/^file format /  format: /p; s/^architecture: /  architecture: /p' | head -2
  "$objdump" -p "$dll" | awk '/^Name / {print "  export directory names: " $3}'
  echo "  exports:"
  "$objdump" -p "$dll" | awk '/\[Ordinal\/Name Pointer\] Table/ {t=1; next} t && /\[/ {print "    " $NF} t && /^$/ {t=0}'
  echo "  imports:"
  "$objdump" -p "$dll" | awk '/DLL Name:/ {print "    " $3}'
done

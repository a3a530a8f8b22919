#!/usr/bin/env bash
# Runs every test: set-up, both Windows builds with their tests under Wine,
# the native build under ASan/UBSan (with bounded fuzz runs) and under TSan,
# and the format check. Ends with one summary line.
set -uo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh || exit 1

presets=(native native-tsan mingw-i686 mingw-x86_64)
passed=0
failed=0
status=0

if ! bash scripts/check_format.sh; then
  failed=$((failed + 1))
  status=1
else
  passed=$((passed + 1))
fi

for preset in "${presets[@]}"; do
  echo "=== $preset"
  if ! cmake --preset "$preset" >"build-$preset.log" 2>&1; then
    cat "build-$preset.log"; failed=$((failed + 1)); status=1; continue
  fi
  if ! cmake --build --preset "$preset" >>"build-$preset.log" 2>&1; then
    tail -50 "build-$preset.log"; failed=$((failed + 1)); status=1; continue
  fi
  rm -f "build-$preset.log"
  log="build/$preset/ctest.log"
  ctest --preset "$preset" -j2 2>&1 | tee "$log"
  summary=$(grep -E "tests passed, [0-9]+ tests failed out of [0-9]+" "$log" | tail -1)
  if [ -z "$summary" ]; then
    failed=$((failed + 1)); status=1; continue
  fi
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
  bad=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$summary")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
  [ "$bad" -ne 0 ] && status=1
done

echo "tests: $passed passed, $failed failed"
exit $status

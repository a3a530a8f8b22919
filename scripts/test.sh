#!/usr/bin/env bash
# Runs every test: set-up, both Windows builds with their tests under Wine,
# the native build under ASan/UBSan (with bounded fuzz runs) and under TSan,
# and the format check. Ends with one summary line; a skipped test fails the run.
set -uo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh || exit 1

presets=(native native-tsan mingw-i686 mingw-x86_64)
passed=0
failed=0
skipped=0
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
  # ctest counts a skipped test among those that passed; none of ours may skip.
  skip=$(grep -cE '^[[:space:]]+[0-9]+ - .* \((Skipped|Disabled)\)' "$log")
  passed=$((passed + total - bad - skip))
  failed=$((failed + bad))
  skipped=$((skipped + skip))
  [ "$bad" -ne 0 ] && status=1
  [ "$skip" -ne 0 ] && status=1
done

echo "tests: $passed passed, $skipped skipped, $failed failed"
[ "$skipped" -ne 0 ] && echo "tests: a skipped test is a test that did not run: every test here must run"
exit $status

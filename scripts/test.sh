#!/usr/bin/env bash
# Runs every test: set-up, both Windows builds with their tests under Wine,
# the native build under ASan/UBSan (with bounded fuzz runs) and under TSan,
# and the format check. Ends with one summary line; a skipped test fails the
# run. On a machine that runs no 32-bit programs the 32-bit tree is built and
# its Wine tests are counted apart, as not runnable here, never as passed; so
# are the browser extension's tests where Chromium or Firefox cannot run.
set -uo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh || { echo "tests: the set-up failed (scripts/setup.sh, above): nothing was tested"; exit 1; }
source scripts/wine_env.sh

# The 32-bit tree is built last: at the lowest priority, beside the others
# from the start, on what their tests leave of the processors.
presets=(native native-tsan mingw-x86_64 mingw-i686)
passed=0
failed=0
skipped=0
not_runnable=0
not_runnable_why=()
status=0

# One build of a tree at a time: the release's tests build it too.
build_tree() {
  flock "build/$1.lock" bash -c "cmake --preset $1 >build-$1.log 2>&1 && cmake --build --preset $1 >>build-$1.log 2>&1"
}
declare -A built_apart=()
build_tree_apart() {
  nice -n 19 bash -c "$(declare -f build_tree); build_tree $1" &
  built_apart[$1]=$!
}
mkdir -p build
build_tree_apart mingw-i686

if ! bash scripts/check_format.sh; then
  failed=$((failed + 1))
  status=1
else
  passed=$((passed + 1))
fi

# A fresh machine whose mirror cannot give the 32-bit Wine still sets up,
# probes truthfully and builds the 32-bit type library.
bash tests/scripts/without_wine32_test.sh build/without-wine32
case $? in
  0) passed=$((passed + 1)) ;;
  77) not_runnable=$((not_runnable + 1)); not_runnable_why+=("the set-up without the 32-bit Wine: it needs root and unshare -m") ;;
  *) failed=$((failed + 1)); status=1 ;;
esac


# One attribute of the JUnit report's test suite.
junit_count() { sed -n "s/^[[:space:]]*$1=\"\([0-9]*\)\".*/\1/p" "$2" | head -1; }

for preset in "${presets[@]}"; do
  echo "=== $preset"
  if [ -n "${built_apart[$preset]:-}" ]; then
    wait "${built_apart[$preset]}"
  else
    build_tree "$preset"
  fi
  if [ $? -ne 0 ]; then
    tail -50 "build-$preset.log"; failed=$((failed + 1)); status=1; continue
  fi
  rm -f "build-$preset.log"
  junit="$PWD/build/$preset/ctest-junit.xml"
  rm -f "$junit"
  # Passed tests keep their whole output in the report: the parts they could
  # not run are named at its end.
  ctest --preset "$preset" -j2 --output-junit "$junit" --test-output-size-passed 1048576 2>&1 | tee "build/$preset/ctest.log"
  total=$(junit_count tests "$junit" 2>/dev/null)
  if [ -z "$total" ]; then
    echo "=== $preset: ctest wrote no report"; failed=$((failed + 1)); status=1; continue
  fi
  bad=$(junit_count failures "$junit")
  skip=$(junit_count skipped "$junit")
  disabled=$(junit_count disabled "$junit")
  passed=$((passed + total - bad - skip - disabled))
  failed=$((failed + bad))
  [ "$bad" -ne 0 ] && status=1
  # The build disables a tree's Wine tests only where its programs cannot run
  # here; anywhere else a test that did not run is a failure.
  if [ "$preset" = mingw-i686 ] && ! wine_runs_32bit; then
    not_runnable=$((not_runnable + disabled))
    [ "$disabled" -ne 0 ] && not_runnable_why+=("$preset under Wine: $(wine32_unavailable_reason)")
  else
    skip=$((skip + disabled))
  fi
  # The extension's browser tests do not run where their browser cannot
  # (they say so and end as not run): counted apart when the browser's probe
  # agrees, else as skipped, which fails the run.
  # Its test of an organization's settings writes the browser's policy
  # folder, which takes root.
  for browser in chromium:Chromium firefox:Firefox; do
    browser_notrun=$(grep -c "<testcase name=\"extension\\.\\(managed\\.\\)\\?${browser%%:*}\".*status=\"notrun\"" "$junit")
    [ "$browser_notrun" -ne 0 ] || continue
    browser_why=$(bash "tests/extension/${browser%%:*}_probe.sh")
    if [ -n "$browser_why" ]; then
      skip=$((skip - browser_notrun))
      not_runnable=$((not_runnable + browser_notrun))
      not_runnable_why+=("${browser#*:} in $preset: $browser_why")
    elif [ "$(id -u)" -ne 0 ] &&
         grep -q "<testcase name=\"extension\\.managed\\.${browser%%:*}\".*status=\"notrun\"" "$junit"; then
      skip=$((skip - 1))
      not_runnable=$((not_runnable + 1))
      not_runnable_why+=("an organization's settings in ${browser#*:}: its policy folder takes root")
    fi
  done
  # A test that leaves out a part this machine cannot run names it itself
  # ("<test>: NOT RUN here (<why>): <what>"): counted apart, aloud.
  while IFS= read -r part; do
    not_runnable=$((not_runnable + 1))
    not_runnable_why+=("$part")
  done < <(grep -o '[A-Za-z0-9_.-]*: NOT RUN here ([^)]*): [^<]*' "$junit" | sed "s/&apos;/'/g; s/&quot;/\"/g")
  skipped=$((skipped + skip))
  [ "$skip" -ne 0 ] && status=1
done

summary="tests: $passed passed, $skipped skipped, $failed failed"
if [ "$not_runnable" -ne 0 ]; then
  summary+=", $not_runnable not runnable here ($(IFS=';'; echo "${not_runnable_why[*]}"))"
fi
echo "$summary"
[ "$skipped" -ne 0 ] && echo "tests: a skipped test is a test that did not run: every test here must run"
[ "$not_runnable" -ne 0 ] && echo "tests: NOT RUN here: the $not_runnable tests or parts above need 32-bit Windows programs, Chromium or Firefox; run the command on a machine that runs them before trusting the 32-bit DLL or the browser extension"
exit $status

#!/usr/bin/env bash
# Measures, does not test: the URL policy's cost per decision natively
# (optimised, no sanitizers), then under Wine the hand-off to a running
# reference agent beside a bare client, the policy's profile reads, and the
# helper object's cost per navigation event, and the time from LoadLibrary to
# a sited helper beside a minimal in-process class. Prints the figures.
#
# usage: scripts/bench.sh [mingw-i686|mingw-x86_64]
# (default mingw-i686, or mingw-x86_64 where this machine runs no 32-bit programs)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine_env.sh
if [ -n "${1:-}" ]; then
  preset=$1
elif wine_runs_32bit; then
  preset=mingw-i686
else
  preset=mingw-x86_64
  echo "bench: measuring the 64-bit DLL: $(wine32_unavailable_reason)"
fi
if [ "$preset" = mingw-i686 ] && ! wine_runs_32bit; then
  echo "bench: cannot measure the 32-bit DLL: $(wine32_unavailable_reason)" >&2
  exit 1
fi

bash scripts/setup.sh

echo "=== native (preset bench: Release, no sanitizers)"
cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null
build/bench/url_policy_bench

echo
echo "=== under Wine ($preset)"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target CorvaneAgent handoff_bench event_bench load_bench \
  load_floor shipped >/dev/null
build="build/$preset"
run="$build/wine-run"

# The agent is registered in the build tree's prefix for the run only.
"$run" --server-start
finish() {
  "$run" "$build/agent/CorvaneAgent.exe" /UnregServer >/dev/null 2>&1 || true
  "$run" --server-stop
}
trap finish EXIT
"$run" "$build/agent/CorvaneAgent.exe" /RegServer >/dev/null

# A hand-off the agent did not take makes handoff_bench answer non-zero; the
# figures are printed all the same and the event benchmark still runs.
status=0
"$run" "$build/tools/handoff_bench.exe" || status=$?
echo
"$run" "$build/tools/event_bench.exe" || status=$?
echo
"$run" "$build/tools/load_bench.exe" "$PWD/$build/shipped/WebCorvaneBHO.dll" \
  "$PWD/$build/tools/load_floor.dll" || status=$?
exit $status

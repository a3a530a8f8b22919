#!/usr/bin/env bash
# A longer fuzz run than the test command's bounded one: each libFuzzer target
# of the platform-free code (URL policy, intercept state, the native host's
# reader), under AddressSanitizer and UndefinedBehaviorSanitizer, for the
# given number of seconds (default 600).
# New inputs go to the build tree's corpus; the seeds in fuzz/corpus stay as
# they are. A crash leaves its input in build/native/fuzz/ and fails the run.
#
# usage: scripts/fuzz.sh [seconds per target]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}

bash scripts/setup.sh
cmake --preset native >/dev/null
cmake --build --preset native --target url_policy_fuzz intercept_state_fuzz native_host_fuzz >/dev/null

status=0
for name in url_policy intercept_state native_host; do
  echo "=== $name: $seconds s"
  corpus="build/native/fuzz/corpus/$name"
  mkdir -p "$corpus"
  (cd build/native/fuzz &&
    "./${name}_fuzz" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
      "corpus/$name" "../../../fuzz/corpus/$name") || status=1
done
exit $status

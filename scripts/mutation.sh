#!/usr/bin/env bash
# How strong the extension's Node tests are: StrykerJS changes the rules and
# the background's modules one small fault at a time (a condition turned, a
# value swapped) and runs the tests that reach each change; a fault no test
# notices survives. Prints the table per file and the share of faults the
# tests caught. Not part of scripts/test.sh: it takes several minutes.
#
# usage: bash scripts/mutation.sh [--incremental]
#   --incremental: test again only the faults whose code or tests changed
#                  since the last run (StrykerJS keeps it in build/mutation)
set -euo pipefail
cd "$(dirname "$0")/.."
report=build/mutation/mutation.json
rm -f "$report"
npx --no-install stryker run tests/extension/stryker.config.json "$@"
node -e '
  const { files } = JSON.parse(require("fs").readFileSync(process.argv[1], "utf8"));
  const count = {};
  for (const file of Object.values(files)) for (const { status } of file.mutants) count[status] = (count[status] ?? 0) + 1;
  const caught = (count.Killed ?? 0) + (count.Timeout ?? 0);
  const judged = caught + (count.Survived ?? 0) + (count.NoCoverage ?? 0);
  console.log(`mutation: ${(100 * caught / judged).toFixed(1)} % of ${judged} faults caught (${count.Killed ?? 0} killed, ` +
              `${count.Timeout ?? 0} timed out, ${count.Survived ?? 0} survived, ${count.NoCoverage ?? 0} not reached)`);
' "$report"

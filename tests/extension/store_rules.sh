#!/usr/bin/env bash
# The stores' rules on the packages the release ships, built afresh from the
# source into a scratch folder:
#   store_rules.sh chromium SCRATCH   the stores' zip against the Chrome Web
#                                     Store's and Edge Add-ons' limits
#   store_rules.sh firefox SCRATCH    Firefox's build through Mozilla's own
#                                     addons-linter: no error, no warning
set -euo pipefail
cd "$(dirname "$0")/../.."
browser=$1
scratch=$2
rm -rf "$scratch"
mkdir -p "$scratch"
case $browser in
  chromium)
    python3 scripts/build_extension.py chromium "$scratch/extension" "$scratch/store.zip"
    python3 scripts/check_store_package.py "$scratch/store.zip"
    ;;
  firefox)
    python3 scripts/build_extension.py xpi "$scratch/extension.xpi"
    linter=node_modules/addons-linter/bin/addons-linter
    [ -f "$linter" ] || { echo "addons-linter is not installed (bash scripts/setup.sh runs npm ci)"; exit 1; }
    node "$linter" --warnings-as-errors "$scratch/extension.xpi"
    ;;
  *)
    echo "usage: store_rules.sh chromium|firefox SCRATCH" >&2
    exit 2
    ;;
esac

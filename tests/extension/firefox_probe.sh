#!/usr/bin/env bash
# Whether Debian's Firefox ESR runs headless on this machine: prints nothing
# when it does, else why not. The extension's tests and the test command's
# count of what could not run here share this answer.
if ! command -v firefox-esr >/dev/null 2>&1; then
  echo "Firefox ESR is not installed"
  exit 0
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/profile"
HOME=$scratch timeout 60 firefox-esr --headless --no-remote --profile "$scratch/profile" \
  --screenshot "$scratch/shot.png" 'data:text/html,<p>runs</p>' >"$scratch/out" 2>&1
if [ ! -s "$scratch/shot.png" ]; then
  echo "headless Firefox does not start: $(grep -v '^\s*$' "$scratch/out" | tail -1)"
fi

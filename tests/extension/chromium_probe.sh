#!/usr/bin/env bash
# Whether Debian's Chromium runs headless on this machine: prints nothing when
# it does, else why not. The extension's tests and the test command's count
# of what could not run here share this answer.
if ! command -v chromium >/dev/null 2>&1; then
  echo "Chromium is not installed"
  exit 0
fi
profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
flags=(--headless=new --disable-gpu --disable-dev-shm-usage --no-first-run --user-data-dir="$profile")
[ "$(id -u)" -eq 0 ] && flags+=(--no-sandbox)
out=$(timeout 60 chromium "${flags[@]}" --dump-dom 'data:text/html,<p>runs</p>' 2>"$profile/stderr")
if ! grep -q '<p>runs</p>' <<<"$out"; then
  echo "headless Chromium does not start: $(grep -v '^\s*$' "$profile/stderr" | tail -1)"
fi

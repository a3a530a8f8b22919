#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build and the tests need and
# the machine lacks. Safe to run again: with everything present it only checks.
set -euo pipefail

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

packages=(
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools binutils-mingw-w64-i686
  binutils-mingw-w64-x86-64 wine wine32:i386 wine64 cmake ninja-build clang
  libclang-rt-14-dev googletest clang-format python3 locales wixl msitools osslsigncode openssl
  nlohmann-json3-dev chromium firefox-esr nodejs fonts-wqy-microhei
)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  force_update=1
fi

for p in "${packages[@]}"; do
  have_pkg "$p" || need+=("$p")
done

if [ "${#need[@]}" -gt 0 ] || [ -n "${force_update:-}" ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  if [ "${#need[@]}" -gt 0 ]; then
    echo "setup: installing ${need[*]}"
    $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
  fi
fi
# The browser extension's tests drive Chromium through a WebSocket client
# from the npm registry, at the versions package-lock.json records. Debian's
# Node.js comes without npm; other builds of it bring their own.
if ! command -v npm >/dev/null 2>&1; then
  echo "setup: installing npm"
  $([ "$(id -u)" -ne 0 ] && echo sudo) apt-get install -y -qq --no-install-recommends npm >/dev/null
fi
if ! (cd "$(dirname "$0")/.." && npm ls --silent >/dev/null 2>&1); then
  (cd "$(dirname "$0")/.." && npm ci --no-audit --no-fund --silent)
fi
echo "setup: toolchain ready"

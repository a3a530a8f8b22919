#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build and the tests need and
# the machine lacks. Safe to run again: with everything present it only checks.
#
# A mirror mid-sync, a distribution without multiarch or a container without
# i386 are ordinary: the 32-bit Wine is then left out with one line saying why
# (the 32-bit tree is still built, and its tests are counted as not runnable),
# while any other package that cannot be had stops the set-up with apt's own
# words. Nothing of the user's is ever downgraded or removed.
set -uo pipefail

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
wine32=wine32:i386

packages=(
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools binutils-mingw-w64-i686
  binutils-mingw-w64-x86-64 wine "$wine32" wine64 cmake ninja-build clang
  libclang-rt-14-dev googletest clang-format python3 locales wixl msitools osslsigncode openssl
  nlohmann-json3-dev chromium firefox-esr nodejs fonts-wqy-microhei librsvg2-bin
)

have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
# apt's last error line ("E: …"), or its last line when it wrote none.
apt_error() { { grep '^E:' "$1" || cat "$1"; } | tail -n 1; }
log=$(mktemp)
trap 'rm -f "$log"' EXIT

# apt-get install that never removes or downgrades what is there; its output
# kept in $log for the caller.
apt_install() {
  $SUDO apt-get install -y -q --no-install-recommends --no-remove "$@" >"$log" 2>&1
}

fresh_lists=
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  if $SUDO dpkg --add-architecture i386 2>"$log"; then
    fresh_lists=1
  else
    echo "setup: warning: the i386 architecture could not be added ($(apt_error "$log"))"
  fi
fi

need=()
for p in "${packages[@]}"; do
  have_pkg "$p" || need+=("$p")
done

if [ "${#need[@]}" -gt 0 ] || [ -n "$fresh_lists" ]; then
  # A failed update (a mirror mid-sync) still leaves the lists it could read;
  # what they cannot give shows up in the install below.
  updated=
  for attempt in 1 2; do
    if $SUDO apt-get update -q >"$log" 2>&1; then updated=1; break; fi
    echo "setup: warning: apt-get update failed (try $attempt of 2): $(apt_error "$log")"
    [ "$attempt" -eq 1 ] && sleep 5
  done
  [ -n "$updated" ] || echo "setup: going on with the package lists there are"
fi

if [ "${#need[@]}" -gt 0 ]; then
  echo "setup: installing ${need[*]}"
  if ! apt_install "${need[@]}"; then
    rest=()
    for p in "${need[@]}"; do [ "$p" = "$wine32" ] || rest+=("$p"); done
    if [ "${#rest[@]}" -eq "${#need[@]}" ]; then
      echo "setup: failed to install ${need[*]}:"; tail -n 20 "$log"; exit 1
    fi
    if [ "${#rest[@]}" -gt 0 ] && ! apt_install "${rest[@]}"; then
      echo "setup: failed to install ${rest[*]}:"; tail -n 20 "$log"; exit 1
    fi
    if ! apt_install "$wine32"; then
      echo "setup: the 32-bit Wine could not be installed ($(apt_error "$log")): the 32-bit DLL is built but not tested here"
    fi
  fi
fi

# The browser extension's tests use packages from the npm registry, at the
# versions package-lock.json records (ws for the browsers' protocols,
# StrykerJS for scripts/mutation.sh). Debian's Node.js comes without npm;
# other builds of it bring their own, which Debian's npm would conflict with.
if ! command -v npm >/dev/null 2>&1; then
  echo "setup: installing npm"
  apt_install npm || { echo "setup: failed to install npm:"; tail -n 20 "$log"; exit 1; }
fi
cd "$(dirname "$0")/.." || exit 1
if ! npm ls --silent >/dev/null 2>&1; then
  if ! npm ci --no-audit --no-fund --silent >"$log" 2>&1; then
    echo "setup: npm ci failed:"; tail -n 20 "$log"; exit 1
  fi
fi
echo "setup: toolchain ready"

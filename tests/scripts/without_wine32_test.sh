#!/usr/bin/env bash
# A fresh machine whose mirror cannot give the 32-bit Wine: `apt-get update`
# fails as a mirror mid-sync makes it fail, `wine32:i386` can be neither
# installed nor found installed, and the 32-bit Wine's loader and DLL folder
# are hidden (a mount namespace, as root). The set-up must go on and say why,
# the probe must answer that no 32-bit Wine is installed, and the 32-bit type
# library must still build.
#   without_wine32_test.sh [scratch folder]
set -uo pipefail
cd "$(dirname "$0")/../.."
scratch=${1:-$(mktemp -d)}
rm -rf "$scratch" && mkdir -p "$scratch/bin" "$scratch/empty" || exit 1
touch "$scratch/no-loader"

if [ "$(id -u)" -ne 0 ] || ! unshare -m true 2>/dev/null; then
  echo "without-wine32: NOT RUN here: it needs root and a mount namespace (unshare -m)"
  exit 77
fi

real_apt=$(command -v apt-get)
real_query=$(command -v dpkg-query)
cat >"$scratch/bin/apt-get" <<EOF
#!/bin/sh
case " \$* " in
  *" update "*)
    echo "E: Failed to fetch http://mirror.invalid/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?" >&2
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
    exit 100 ;;
  *" wine32:i386 "*)
    echo "E: Unable to correct problems, you have held broken packages." >&2
    exit 100 ;;
esac
exec "$real_apt" "\$@"
EOF
cat >"$scratch/bin/dpkg-query" <<EOF
#!/bin/sh
case " \$* " in
  *" wine32:i386 "*|*" wine32 "*) echo "dpkg-query: no packages found matching wine32:i386" >&2; exit 1 ;;
esac
exec "$real_query" "\$@"
EOF
chmod +x "$scratch/bin/apt-get" "$scratch/bin/dpkg-query"

failures=0
fail() { echo "without-wine32: $*"; failures=$((failures + 1)); }

# What the 32-bit Wine would be: hidden inside the namespace only.
hide=""
for loader in /usr/lib/wine/wine /usr/lib/i386-linux-gnu/wine/wine; do
  [ -e "$loader" ] && hide+="mount --bind '$scratch/no-loader' '$loader' && "
done
for dir in /usr/lib/i386-linux-gnu/wine/i386-windows /usr/lib/i386-linux-gnu/wine/i386-unix; do
  [ -d "$dir" ] && hide+="mount --bind '$scratch/empty' '$dir' && "
done

in_that_machine() {
  PATH="$scratch/bin:$PATH" WEBCORVANE_32BIT= unshare -m bash -c "${hide}$1"
}

said=$(in_that_machine "bash scripts/setup.sh" 2>&1)
rc=$?
[ $rc -eq 0 ] || fail "the set-up ended with $rc: $(printf '%s\n' "$said" | tail -n 5)"
printf '%s\n' "$said" | grep -q "^setup: the 32-bit Wine could not be installed (E: Unable to correct problems, you have held broken packages.): the 32-bit DLL is built but not tested here$" ||
  fail "the set-up did not say why the 32-bit Wine is missing: $(printf '%s\n' "$said" | tail -n 3)"
printf '%s\n' "$said" | grep -q "^setup: toolchain ready$" || fail "the set-up did not finish"

probe=$(in_that_machine "bash scripts/wine_env.sh --probe" 2>&1)
[ "$probe" = "no: no 32-bit Wine is installed" ] || fail "the probe answered '$probe'"

built=$(in_that_machine "cmake -S . -B '$scratch/i686' -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
          -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake >/dev/null &&
        cmake --build '$scratch/i686' --target download_agent_tlb" 2>&1) ||
  fail "the 32-bit type library did not build: $(printf '%s\n' "$built" | tail -n 5)"

[ $failures -eq 0 ] || exit 1
rm -rf "$scratch"
echo "without-wine32: set-up, probe and the 32-bit type library pass without the 32-bit Wine"

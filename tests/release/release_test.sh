#!/usr/bin/env bash
# Builds the release archive, unpacks it, and runs its install and uninstall
# scripts under Wine in a fresh 64-bit prefix of its own: both DLLs must be
# registered, each in its own registry view, and removed again.
#
# usage: release_test.sh <scratch directory>
set -uo pipefail
cd "$(dirname "$0")/../.."
scratch=$1

archive=$(bash scripts/release.sh) || { echo "FAIL: the archive was not built"; exit 1; }

export WINEPREFIX="$scratch/prefix"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

cleanup() {
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT
rm -rf "$scratch"
mkdir -p "$scratch"
python3 -m zipfile -e "$archive" "$scratch/unpacked" || { echo "FAIL: cannot unpack"; exit 1; }
folder="$scratch/unpacked/$(basename "$archive" .zip)"

wineserver -p </dev/null >/dev/null 2>&1
wineboot -i </dev/null >/dev/null 2>&1
wine cmd /c exit 0 </dev/null >/dev/null 2>&1

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
key='HKLM\Software\Classes\CLSID\{00000AAA-A363-466E-BEF5-9BB68697AA7F}\InprocServer32'
server() {  # the registered DLL of one view, or nothing
  wine reg query "$key" /ve "$@" </dev/null 2>/dev/null | tr -d '\r' |
    sed -n 's/^    .*    REG_SZ    //p'
}

win_folder=$(wine winepath -w "$folder" </dev/null 2>/dev/null | tr -d '\r')
# The 64-bit command prompt, as a double click starts it, and a 32-bit one,
# which must reach the 64-bit regsvr32 through Sysnative.
for bits in 64 32; do
  loader=wine
  [ $bits = 64 ] && loader=/usr/lib/wine/wine64
  (cd "$folder" && "$loader" cmd /c install.cmd </dev/null) | tr -d '\r'
  [ "$(server /reg:32)" = "$win_folder\\x86\\WebCorvaneBHO.dll" ] ||
    fail "$bits-bit prompt: 32-bit view names '$(server /reg:32)', not the x86 DLL"
  [ "$(server /reg:64)" = "$win_folder\\x64\\WebCorvaneBHO.dll" ] ||
    fail "$bits-bit prompt: 64-bit view names '$(server /reg:64)', not the x64 DLL"

  (cd "$folder" && "$loader" cmd /c uninstall.cmd </dev/null) | tr -d '\r'
  [ -z "$(server /reg:32)" ] || fail "$bits-bit prompt: the 32-bit registration remains"
  [ -z "$(server /reg:64)" ] || fail "$bits-bit prompt: the 64-bit registration remains"
done

[ $failures -eq 0 ] && echo "release: installed and removed both DLLs from $(basename "$archive")"
exit $((failures != 0))

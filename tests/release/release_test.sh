#!/usr/bin/env bash
# Builds the release archive, unpacks it, and runs its install and uninstall
# scripts under Wine in a fresh 64-bit prefix of its own: both DLLs must be
# registered, each in its own registry view, and removed again. The
# installation check of each bitness then runs from the archive.
#
# usage: release_test.sh <scratch directory> <download agent to register>
set -uo pipefail
cd "$(dirname "$0")/../.."
scratch=$1
agent=$2

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

# The check beside each DLL after install.cmd. The archive holds no download
# agent, so the agent is the one problem (exit 2) until one is registered;
# with the reference agent registered all is well (exit 0).
check() {  # <x86|x64> <expected status> <expected line> [--agent]
  wine "$folder/$1/url_explainer.exe" --check "${@:4}" </dev/null 2>/dev/null | tr -d '\r' >"$scratch/check"
  local status=${PIPESTATUS[0]}
  [ "$status" = "$2" ] || fail "$1 check: exit $status, not $2"
  grep -q "^$3" "$scratch/check" || fail "$1 check: no line '$3'"
  grep -v '^ok: \|^problem: download agent: \|^[0-9]* ok, ' "$scratch/check" | sed "s/^/$1 check: /"
}
(cd "$folder" && /usr/lib/wine/wine64 cmd /c install.cmd </dev/null) >/dev/null
for arch in x86 x64; do
  check $arch 2 "problem: download agent: \"CorvaneServer.WebCorvane.1\" is not registered"
  [ "$(grep -c -v '^ok: ' "$scratch/check")" = 2 ] || fail "$arch check: more than the agent is wrong"
  grep -q "^ok: helper class: .*the one beside this program" "$scratch/check" ||
    fail "$arch check: the helper is not the DLL beside it"
done
wine "$agent" /RegServer </dev/null >/dev/null 2>&1
# The system processes started while the prefix was made do not activate an
# agent registered after them: a fresh server does.
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
wineserver -p </dev/null >/dev/null 2>&1
wine cmd /c exit 0 </dev/null >/dev/null 2>&1
check x64 0 "ok: agent start: created in" --agent
# Only the 32-bit DLL registered: the 64-bit check says so.
/usr/lib/wine/wine64 regsvr32 /s /u "$win_folder\\x64\\WebCorvaneBHO.dll" </dev/null >/dev/null 2>&1
check x64 2 "problem: helper class: registered for 32-bit browsers only"
(cd "$folder" && /usr/lib/wine/wine64 cmd /c uninstall.cmd </dev/null) >/dev/null

[ $failures -eq 0 ] && echo "release: installed and removed both DLLs from $(basename "$archive"), and checked them"
exit $((failures != 0))

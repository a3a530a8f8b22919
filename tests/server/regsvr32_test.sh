#!/usr/bin/env bash
# Registers and unregisters the built DLL with the platform's own tool,
# regsvr32, and reads the result back with reg.exe. Both change a prefix's
# real registry, so this runs in a fresh prefix of its own, removed at the end.
#
# usage: regsvr32_test.sh <prefix directory> <win32|win64> <DLL, Unix path>
set -uo pipefail

prefix=$1
arch=$2
dll=$3

export WINEPREFIX="$prefix"
export WINEARCH="$arch"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
source "$(dirname "$0")/../../scripts/wine_env.sh"
WINE=$(wine_loader "$arch") || exit 1

# The 64-bit DLL is registered in the 64-bit view; reg.exe is a 32-bit
# program and reads that view only when asked.
view=()
[ "$arch" = win64 ] && view=(/reg:64)

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

cleanup() {
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  rm -rf "$prefix"
}
trap cleanup EXIT

rm -rf "$prefix"
mkdir -p "$(dirname "$prefix")"
# The server and the system processes outlive the programs that start them and
# would keep ctest's output pipe open: start them detached.
wineserver -p </dev/null >/dev/null 2>&1
"$WINE" wineboot -i </dev/null >/dev/null 2>&1
"$WINE" cmd /c exit 0 </dev/null >/dev/null 2>&1

dll_win=$("$WINE" winepath -w "$dll" 2>/dev/null </dev/null | tr -d '\r')
dir_win="${dll_win%\\*}\\"
[ -n "$dll_win" ] || { echo "FAIL: no Windows path for $dll"; exit 1; }

# Every read goes through wine_reg_query: 1 means absent, 2 that reg never ran.
reg_query() { wine_reg_query "$WINE" "$@" "${view[@]}"; }

# The data of one value ("" for the default value), "<missing>", or
# "<unreadable>" when reg never ran.
value() {
  local key=$1 name=$2 out rc
  if [ -z "$name" ]; then
    out=$(reg_query "$key" /ve)
  else
    out=$(reg_query "$key" /v "$name")
  fi
  rc=$?
  [ $rc -eq 1 ] && { echo "<missing>"; return; }
  [ $rc -ne 0 ] && { echo "<unreadable>"; return; }
  printf '%s\n' "$out" | sed -n 's/^    .*    REG_[A-Z_]*    //p' | head -1
}

# Only a key reg reports absent counts as absent.
key_exists() {
  reg_query "$1" >/dev/null
  [ $? -ne 1 ]
}

listing() {
  local out
  out=$(reg_query "$1" /s)
  [ $? -eq 2 ] && out="<unreadable>"
  printf '%s\n' "$out"
}

expect() {
  local key=$1 name=$2 want=$3 got
  got=$(value "$key" "$name")
  [ "$got" = "$want" ] || fail "$key [${name:-default}] is '$got', expected '$want'"
}

BHO='{00000AAA-A363-466E-BEF5-9BB68697AA7F}'
DM='{15BD4A12-BEDA-4A4D-8FB1-04553F1FD1CB}'
LIB='{EB9F911B-5E47-497C-8DA3-ECBFC9FB1F68}'
IID='{D01732E3-7841-438C-9232-0A876B19107A}'
DMIID='{988934A4-064B-11D3-BB80-00104B35E7F9}'
MARSHALER='{00020424-0000-0000-C000-000000000046}'
BHOKEY="HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects\\$BHO"
IE='Software\Microsoft\Internet Explorer'

# Windows keeps the proxy/stub registration of its own IDownloadManager here;
# Wine's fresh prefix has none, so put one in its place.
"$WINE" reg add "HKCR\\Interface\\$DMIID" /ve /d IDownloadManager /f "${view[@]}" </dev/null >/dev/null 2>&1
"$WINE" reg add "HKCR\\Interface\\$DMIID\\ProxyStubClsid32" /ve /d '{11111111-2222-3333-4444-555555555555}' \
  /f "${view[@]}" </dev/null >/dev/null 2>&1
platform_interface=$(listing "HKCR\\Interface\\$DMIID")
grep -q '11111111-2222' <<<"$platform_interface" || fail "could not set up the IDownloadManager key"

"$WINE" regsvr32 /s "$dll_win" </dev/null >/dev/null 2>&1 || fail "regsvr32 answered $?"

expect "HKCR\\CLSID\\$BHO" "" "WebCorvane Browser Helper"
expect "HKCR\\CLSID\\$BHO\\InprocServer32" "" "$dll_win"
expect "HKCR\\CLSID\\$BHO\\InprocServer32" ThreadingModel Apartment
expect "HKCR\\CLSID\\$BHO\\ProgID" "" WebCorvaneBHO.WebCorvaneIEHelper.1
expect "HKCR\\CLSID\\$DM\\InprocServer32" "" "$dll_win"
expect "HKCR\\CLSID\\$DM\\VersionIndependentProgID" "" WebCorvaneBHO.VDownloadManager
expect "HKCR\\WebCorvaneBHO.WebCorvaneIEHelper\\CurVer" "" WebCorvaneBHO.WebCorvaneIEHelper.1
expect "HKCR\\WebCorvaneBHO.VDownloadManager.1\\CLSID" "" "$DM"
expect "HKCR\\TypeLib\\$LIB\\1.0\\0\\win32" "" "$dll_win"
expect "HKCR\\TypeLib\\$LIB\\1.0\\HELPDIR" "" "$dir_win"
expect "HKCR\\Interface\\$IID\\ProxyStubClsid32" "" "$MARSHALER"
expect "HKCR\\Interface\\$IID\\TypeLib" Version 1.0
expect "$BHOKEY" "" WebCorvaneBHO
expect "HKLM\\$IE" DownloadUI "$DM"
expect "HKCU\\$IE" DownloadUI "$DM"
[ "$(listing "HKCR\\Interface\\$DMIID")" = "$platform_interface" ] ||
  fail "registration changed the platform's IDownloadManager key"

"$WINE" regsvr32 /u /s "$dll_win" </dev/null >/dev/null 2>&1 || fail "regsvr32 /u answered $?"

for key in "HKCR\\CLSID\\$BHO" "HKCR\\CLSID\\$DM" "HKCR\\WebCorvaneBHO.WebCorvaneIEHelper" \
           "HKCR\\WebCorvaneBHO.WebCorvaneIEHelper.1" "HKCR\\WebCorvaneBHO.VDownloadManager" \
           "HKCR\\WebCorvaneBHO.VDownloadManager.1" "HKCR\\TypeLib\\$LIB" \
           "HKCR\\Interface\\$IID" "$BHOKEY"; do
  key_exists "$key" && fail "$key is still there after unregistration"
done
expect "HKLM\\$IE" DownloadUI "<missing>"
expect "HKCU\\$IE" DownloadUI "<missing>"
[ "$(listing "HKCR\\Interface\\$DMIID")" = "$platform_interface" ] ||
  fail "unregistration changed the platform's IDownloadManager key"

# A registration whose writes are refused says so: here the Maxthon plug-in's
# folder cannot be made, as a file of that name stands in its way.
mkdir -p "$prefix/drive_c/maxthon/Plugin"
touch "$prefix/drive_c/maxthon/Plugin/WebCorvane"
"$WINE" reg add 'HKCU\Software\Maxthon' /v Folder /d 'C:\maxthon' /f </dev/null >/dev/null 2>&1
"$WINE" regsvr32 /s "$dll_win" </dev/null >/dev/null 2>&1 && fail "regsvr32 reported success for a refused write"
expect "HKCR\\CLSID\\$BHO\\InprocServer32" "" "$dll_win"  # all else is still done
"$WINE" reg delete 'HKCU\Software\Maxthon' /f </dev/null >/dev/null 2>&1
"$WINE" regsvr32 /u /s "$dll_win" </dev/null >/dev/null 2>&1 || fail "regsvr32 /u answered $?"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "regsvr32 registration and unregistration: all checks passed ($arch)"

#!/usr/bin/env bash
# Builds the release signed with a throw-away certificate and verifies every
# signature; then takes each Windows Installer package through its life under
# Wine, the x86 package in a fresh 32-bit prefix and the x64 package in a
# fresh 64-bit one: install, upgrade to a later version, repair, remove. What
# the packages register must be exactly what regsvr32 registers from the same
# DLLs in the same folders, and removal must leave what was there before.
# Each package also puts the native messaging host of the machine's bitness
# and its manifests beside that DLL, and names them in Chrome's, Edge's and
# Firefox's keys under HKLM, in that bitness's view, through which every
# Chromium browser finds the host too; removal takes them away. The later
# packages are built with store IDs and offer the extension to Chrome and
# Edge (their external-extension keys, in the 32-bit view); the release's,
# built with none, offer nothing, and OFFER_EXTENSION=0 turns the offer off.
#
# Where this machine runs no 32-bit programs, the x86 package is checked by
# its files and tables only, and the x64 package's 32-bit DLL is installed but
# not registered (its regsvr32 is a 32-bit program); the test says so.
#
# usage: package_test.sh <scratch directory>
set -uo pipefail
cd "$(dirname "$0")/../.."
scratch=$1
next_version=6.0.0.6

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
source scripts/wine_env.sh
runs32=1
wine_runs_32bit || runs32=0
left_out=()
# Every Wine program of a prefix through the loader of the prefix's bitness.
wine() { command "$WINE" "$@"; }

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
stop_wine() {
  [ -n "${WINEPREFIX:-}" ] || return 0
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
}
cleanup() {
  stop_wine
  rm -rf "$scratch"
}
trap cleanup EXIT
rm -rf "$scratch"
mkdir -p "$scratch"

# --- Signing ---------------------------------------------------------------
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=WebCorvaneBHO test signing" \
  -addext extendedKeyUsage=codeSigning -keyout "$scratch/key.pem" -out "$scratch/cert.pem" \
  >/dev/null 2>&1 || { echo "FAIL: openssl made no certificate"; exit 1; }
export WEBCORVANE_SIGN_CERT=$scratch/cert.pem WEBCORVANE_SIGN_KEY=$scratch/key.pem
WEBCORVANE_RELEASE_DIR=$scratch/release bash scripts/release.sh >/dev/null 2>"$scratch/release.log" ||
  { cat "$scratch/release.log"; echo "FAIL: the signed release was not built"; exit 1; }
release=$scratch/release/WebCorvaneBHO-6.0.0.5
CHROME_STORE_ID=abcdefghijklmnopabcdefghijklmnop
EDGE_STORE_ID=ponmlkjihgfedcbaponmlkjihgfedcba
WEBCORVANE_CHROME_STORE_ID=$CHROME_STORE_ID WEBCORVANE_EDGE_STORE_ID=$EDGE_STORE_ID \
  bash packaging/build_packages.sh "$release" "$scratch/next" "$next_version" >/dev/null 2>&1 ||
  { echo "FAIL: the $next_version packages were not built"; exit 1; }

verify() {  # a file that must carry both signatures
  local report
  report=$(osslsigncode verify -CAfile "$WEBCORVANE_SIGN_CERT" -in "$1" 2>&1)
  grep -q "^Number of verified signatures: 2$" <<<"$report" || fail "${1#"$scratch"/}: not signed twice: $(tail -1 <<<"$report")"
}
mapfile -t binaries < <(find "$release" -name '*.dll' -o -name '*.exe')
[ "${#binaries[@]}" -ge 3 ] || fail "the release holds ${#binaries[@]} binaries"
for f in "${binaries[@]}" "$scratch"/release/*.msi "$scratch"/next/*.msi; do verify "$f"; done
# The packages carry the signed binaries, not the ones before signing.
msiextract -C "$scratch/extracted" "$scratch/release/WebCorvaneBHO-6.0.0.5-x64.msi" >/dev/null ||
  fail "cannot unpack the x64 package"
mapfile -t packed < <(find "$scratch/extracted" -name '*.dll' -o -name '*.exe')
[ "${#packed[@]}" -ge 3 ] || fail "the x64 package holds ${#packed[@]} binaries"
for f in "${packed[@]}"; do verify "$f"; done
# Without a certificate nothing is signed, and that is said; half of one is refused.
cp build/mingw-i686/shipped/WebCorvaneBHO.dll "$scratch/unsigned.dll"
cp "$scratch/unsigned.dll" "$scratch/unsigned.copy"
said=$(env -u WEBCORVANE_SIGN_CERT -u WEBCORVANE_SIGN_KEY bash packaging/sign.sh "$scratch/unsigned.dll" 2>&1)
grep -q UNSIGNED <<<"$said" || fail "an unsigned build does not say so: '$said'"
cmp -s "$scratch/unsigned.dll" "$scratch/unsigned.copy" || fail "sign.sh changed a file without a certificate"
env -u WEBCORVANE_SIGN_KEY bash packaging/sign.sh "$scratch/unsigned.dll" 2>/dev/null &&
  fail "sign.sh accepted a certificate without its key"
unset WEBCORVANE_SIGN_CERT WEBCORVANE_SIGN_KEY

# --- One package's life ------------------------------------------------------
BHO='{00000AAA-A363-466E-BEF5-9BB68697AA7F}'
DM='{15BD4A12-BEDA-4A4D-8FB1-04553F1FD1CB}'
LIB='{EB9F911B-5E47-497C-8DA3-ECBFC9FB1F68}'
IID='{D01732E3-7841-438C-9232-0A876B19107A}'
DMIID='{988934A4-064B-11D3-BB80-00104B35E7F9}'
keys=("HKCR\\CLSID\\$BHO" "HKCR\\CLSID\\$DM" "HKCR\\WebCorvaneBHO.WebCorvaneIEHelper"
      "HKCR\\WebCorvaneBHO.WebCorvaneIEHelper.1" "HKCR\\WebCorvaneBHO.VDownloadManager"
      "HKCR\\WebCorvaneBHO.VDownloadManager.1" "HKCR\\TypeLib\\$LIB" "HKCR\\Interface\\$IID"
      "HKCR\\Interface\\$DMIID"
      "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects\\$BHO")
UNINSTALL='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

reg_() {
  if [ "$1" = query ]; then
    shift
    wine_reg_query wine "$@" || true
  else
    wine reg "$@" </dev/null 2>/dev/null | tr -d '\r'
  fi
}
# Everything of ours in the registry, in every view, and the Maxthon plug-in.
snapshot() {
  local view key
  for view in "${views[@]}"; do
    for key in "${keys[@]}"; do
      echo "[$key $view]"
      reg_ query "$key" /s $view
    done
    for key in HKLM HKCU; do
      echo "[$key DownloadUI $view]"
      reg_ query "$key\\Software\\Microsoft\\Internet Explorer" /v DownloadUI $view | grep DownloadUI
    done
  done
  echo "[Maxthon plug-in]"
  ls "$WINEPREFIX/drive_c/Maxthon/Plugin"
  cat "$WINEPREFIX/drive_c/Maxthon/Plugin/WebCorvane/Plugin.ini" 2>/dev/null | tr -d '\r'
}
same() {  # what, expected file, actual file
  diff -u "$2" "$3" >"$scratch/diff" || { fail "$1:"; head -40 "$scratch/diff"; }
}
# The installed-programs entries named WebCorvaneBHO: "key version publisher".
entries() {
  reg_ query "$UNINSTALL" /s $arp_view | awk '
    /^HKEY/ { key = $0; sub(/.*\\/, "", key) }
    $1 == "DisplayName" && $3 == "WebCorvaneBHO" { named[key] = 1 }
    $1 == "DisplayVersion" { version[key] = $3 }
    $1 == "Publisher" { publisher[key] = $3 }
    END { for (k in named) print k, version[k], publisher[k] }'
}
product_code() { msiinfo export "$1" Property | tr -d '\r' | awk '$1 == "ProductCode" { print $2 }'; }
# Windows Installer's own registration of a product, under its packed code.
packed() { python3 -c 'import sys; g = sys.argv[1].strip("{}").replace("-", "")
print(g[7::-1] + g[11:7:-1] + g[15:11:-1] + "".join(g[i + 1] + g[i] for i in range(16, 32, 2)))' "$1"; }
msiexec_() {  # step name, arguments...
  local step=$1 rc
  shift
  wine msiexec "$@" /qn /l*v 'C:\windows\temp\msi.log' </dev/null >/dev/null 2>&1
  rc=$?
  [ $rc -eq 0 ] || { fail "$step: msiexec answered $rc"; tail -20 "$WINEPREFIX/drive_c/windows/temp/msi.log" | tr -d '\r'; }
}
# Each DLL's folder (Unix path), its bitness and its registration tool.
folders() {
  if [ "$arch" = x86 ]; then
    echo "$WINEPREFIX/drive_c/Program Files/WebCorvaneBHO|x86|regsvr32"
  else
    echo "$WINEPREFIX/drive_c/Program Files (x86)/WebCorvaneBHO|x86|C:\\windows\\syswow64\\regsvr32.exe"
    echo "$WINEPREFIX/drive_c/Program Files/WebCorvaneBHO|x64|regsvr32"
  fi
}
each_dll() {  # calls "$@" with each DLL's folder, bitness and registration tool
  local folder bits tool
  while IFS='|' read -r folder bits tool; do
    "$@" "$folder" "$bits" "$tool"
  done < <(folders)
}
win() { wine winepath -w "$1" </dev/null 2>/dev/null | tr -d '\r'; }

# Whether this DLL's registration tool runs here.
registers() { [ "$runs32" = 1 ] || [ "$1" = x64 ]; }
regsvr32_register() {  # folder, bits, tool
  registers "$2" || return 0
  mkdir -p "$1"
  cp "$release/$2/WebCorvaneBHO.dll" "$1/"
  wine "$3" /s "$(win "$1/WebCorvaneBHO.dll")" </dev/null >/dev/null 2>&1 || fail "$3 answered $?"
}
regsvr32_unregister() {  # folder, bits, tool
  registers "$2" || return 0
  wine "$3" /u /s "$(win "$1/WebCorvaneBHO.dll")" </dev/null >/dev/null 2>&1 || fail "$3 /u answered $?"
}
files_in_place() {  # step; then per DLL: folder, bits, tool
  local step=$1 folder=$2 bits=$3 f
  for f in WebCorvaneBHO.dll UserConfig.ini; do
    [ -f "$folder/$f" ] || fail "$step: no $f in ${folder#"$WINEPREFIX"/}"
  done
  cmp -s "$folder/WebCorvaneBHO.dll" "$release/$bits/WebCorvaneBHO.dll" ||
    fail "$step: ${folder#"$WINEPREFIX"/} holds another DLL than the release's $bits one"
  [ -f "$folder/url_explainer.exe" ] || fail "$step: no url_explainer.exe in ${folder#"$WINEPREFIX"/}"
}
# The installation check of each installed explainer: no agent is
# registered in these prefixes, so the agent is its one problem (exit 2).
checked() {  # step; then folder, bits, tool
  registers "$3" || return 0
  wine "$2/url_explainer.exe" --check </dev/null 2>/dev/null | tr -d '\r' >"$scratch/check"
  local status=${PIPESTATUS[0]}
  [ "$status" = 2 ] || fail "$1: the $3 check exits $status, not 2"
  grep -q '^problem: download agent: ' "$scratch/check" && [ "$(grep -c -v '^ok: ' "$scratch/check")" = 2 ] ||
    fail "$1: the $3 check finds more wrong than the agent: $(grep -v '^ok: ' "$scratch/check" | tr '\n' '|')"
  local entry browser chrome_key='Software\Google\Chrome\NativeMessagingHosts\com.webcorvane.handoff'
  for entry in "${OTHER_BROWSERS[@]}"; do
    browser=${entry##*|}
    grep -qF "ok: $browser host: uses $host_place\\$chrome_key (1 found" "$scratch/check" ||
      fail "$1: the $3 check: $browser does not find the host: $(grep "$browser host" "$scratch/check")"
  done
}
# After removal the release's own explainer finds none of the classes.
nothing_left() {  # step; then folder, bits, tool
  registers "$3" || return 0
  wine "$release/$3/url_explainer.exe" --check </dev/null 2>/dev/null | tr -d '\r' >"$scratch/check"
  for class in "helper class" "download manager class"; do
    grep -q "^problem: $class: not registered" "$scratch/check" ||
      fail "$1: the $3 check does not find the $class gone: $(grep "$class" "$scratch/check")"
  done
  ! grep -q "is ours" "$scratch/check" || fail "$1: the $3 check still finds ours: $(grep "is ours" "$scratch/check")"
  for browser in Chrome Edge Firefox; do
    grep -q "^ok: $browser host: not registered" "$scratch/check" ||
      fail "$1: the $3 check still finds a host for $browser: $(grep "$browser host" "$scratch/check")"
  done
  local entry
  for entry in "${OTHER_BROWSERS[@]}"; do
    grep -q "^problem: ${entry##*|} host: not registered" "$scratch/check" ||
      fail "$1: the $3 check still finds a host for ${entry##*|}: $(grep "${entry##*|} host" "$scratch/check")"
  done
}
# The native messaging host lies beside the DLL of the machine's bitness
# only, and the browsers' keys in that view name its manifests: Chromium's
# for Chrome and Edge, Firefox's own for Firefox.
HOST_KEYS=('HKLM\Software\Google\Chrome\NativeMessagingHosts\com.webcorvane.handoff|com.webcorvane.handoff.json'
           'HKLM\Software\Microsoft\Edge\NativeMessagingHosts\com.webcorvane.handoff|com.webcorvane.handoff.json'
           'HKLM\Software\Mozilla\NativeMessagingHosts\com.webcorvane.handoff|com.webcorvane.handoff.firefox.json')
host_in_place() {  # step; then folder, bits, tool
  local step=$1 folder=$2 bits=$3 f key manifest named
  if [ "$bits" != "$host_bits" ]; then
    [ ! -e "$folder/WebCorvaneHost.exe" ] || fail "$step: a host beside the $bits DLL"
    return 0
  fi
  for f in WebCorvaneHost.exe com.webcorvane.handoff.json com.webcorvane.handoff.firefox.json; do
    cmp -s "$folder/$f" "$release/$bits/$f" || fail "$step: ${folder#"$WINEPREFIX"/} holds no $f of the release's $bits"
  done
  for key in "${HOST_KEYS[@]}"; do
    manifest=${key#*|} key=${key%|*}
    named=$(reg_ query "$key" /ve $arp_view | sed -n 's/^    .*    REG_SZ    //p')
    [ "$named" = "$(win "$folder")\\$manifest" ] ||
      fail "$step: $key ${arp_view:-} names '$named', not the manifest beside the $bits DLL"
    [ -z "$arp_view" ] || ! reg_ query "$key" /reg:32 | grep -q "^HKEY_" ||
      fail "$step: $key is in the 32-bit view of 64-bit Windows"
  done
}
# The extension offered to Chrome and Edge, each by its store's item and
# address under its external-extension key, in the 32-bit view both read.
OFFER_KEYS=("SOFTWARE\\Google\\Chrome\\Extensions\\$CHROME_STORE_ID|https://clients2.google.com/service/update2/crx"
            "SOFTWARE\\Microsoft\\Edge\\Extensions\\$EDGE_STORE_ID|https://edge.microsoft.com/extensionwebstorebase/v1/crx")
offered() {  # step, yes | no
  local key url named view
  for key in "${OFFER_KEYS[@]}"; do
    url=${key#*|} key=${key%|*}
    for view in "${offer_views[@]}"; do
      named=$(reg_ query "HKLM\\$key" /v update_url $view | sed -n 's/^ *update_url *REG_SZ *//p')
      if [ "$2" = yes ] && [ "$view" = "${offer_views[0]}" ]; then
        [ "$named" = "$url" ] || fail "$1: $key ${view:-} names '$named', not $url"
      else
        [ -z "$named" ] || fail "$1: $key ${view:-} is there"
      fi
    done
  done
}
# Chromium's other browsers, as Windows lists them: each finds the host
# through Chrome's key.
OTHER_BROWSERS=('HKLM\Software\Microsoft\Windows\CurrentVersion\App Paths\brave.exe|C:\Program Files\BraveSoftware\Brave-Browser\Application\brave.exe|Brave'
                'HKLM\Software\Microsoft\Windows\CurrentVersion\App Paths\vivaldi.exe|C:\Program Files\Vivaldi\Application\vivaldi.exe|Vivaldi'
                'HKLM\Software\Microsoft\Windows\CurrentVersion\App Paths\opera.exe|C:\Program Files\Opera\opera.exe|Opera'
                'HKLM\Software\Microsoft\Windows\CurrentVersion\App Paths\browser.exe|C:\Program Files\Yandex\YandexBrowser\Application\browser.exe|Yandex'
                'HKLM\Software\Clients\StartMenuInternet\Chromium\shell\open\command|C:\Program Files\Chromium\Application\chrome.exe|Chromium')
other_browsers() {
  local entry
  for entry in "${OTHER_BROWSERS[@]}"; do
    IFS='|' read -r key path _ <<<"$entry"
    reg_ add "$key" /ve /d "$path" /f >/dev/null
  done
}
# The browsers' makers' keys under HKLM, in every view.
host_snapshot() {
  local view
  for view in "${views[@]}"; do
    echo "[$view]"
    reg_ query 'HKLM\Software\Google' /s $view
    reg_ query 'HKLM\Software\Microsoft\Edge' /s $view
    reg_ query 'HKLM\Software\Mozilla' /s $view
  done
}
edit_settings() { sed -i 's/^MonitorIE=1/MonitorIE=0/' "$1/UserConfig.ini"; cp "$1/UserConfig.ini" "$scratch/settings-$2"; }
settings_kept() {  # step; then folder, bits
  cmp -s "$2/UserConfig.ini" "$scratch/settings-$3" || fail "$1: the user's UserConfig.ini beside the $3 DLL was replaced"
}
break_dll() {  # folder, bits, tool: registration and file gone
  regsvr32_unregister "$@"
  rm -f "$1/WebCorvaneBHO.dll"
}
# Each DLL's Active Setup entry (in the 64-bit view on 64-bit Windows) runs
# for a user who has none of the per-user parts yet, such as a second user of
# the machine, and writes them.
ACTIVE_SETUP='HKLM\Software\Microsoft\Active Setup\Installed Components'
active_setup() {  # step; then folder, bits, tool
  local step=$1 folder=$2 bits=$3 id stub version
  [ "$bits" = x86 ] && id='{C6A1E2B4-3D5F-4A7B-9C8D-1E2F3A4B5C32}' || id='{C6A1E2B4-3D5F-4A7B-9C8D-1E2F3A4B5C64}'
  stub=$(reg_ query "$ACTIVE_SETUP\\$id" /v StubPath $arp_view | sed -n 's/^ *StubPath *REG_SZ *//p')
  version=$(reg_ query "$ACTIVE_SETUP\\$id" /v Version $arp_view | sed -n 's/^ *Version *REG_SZ *//p')
  [[ $stub == *"regsvr32.exe\" /s /n /i:user \"$(win "$folder")\\WebCorvaneBHO.dll\"" ]] ||
    fail "$step: the $bits Active Setup entry runs '$stub'"
  [ "$version" = "${4//./,}" ] || fail "$step: the $bits Active Setup version is '$version', not ${4//./,}"
  registers "$bits" || return 0
  # A user who has none of the parts: the stub gives them all.
  reg_ delete 'HKCU\Software\Microsoft\Internet Explorer' /v DownloadUI /f >/dev/null
  rm -rf "$WINEPREFIX/drive_c/Maxthon/Plugin/WebCorvane"
  # As Active Setup starts it: the command line's quoted words, unquoted.
  eval "set -- $stub"
  wine "$@" </dev/null >/dev/null 2>&1
  reg_ query 'HKCU\Software\Microsoft\Internet Explorer' /v DownloadUI | grep -q "$DM" ||
    fail "$step: the $bits Active Setup stub wrote no DownloadUI"
  [ -f "$WINEPREFIX/drive_c/Maxthon/Plugin/WebCorvane/Plugin.ini" ] ||
    fail "$step: the $bits Active Setup stub wrote no Maxthon plug-in"
}
no_active_setup() {  # step
  reg_ query "$ACTIVE_SETUP" /s $arp_view | grep -q 'C6A1E2B4-3D5F-4A7B-9C8D' &&
    fail "$1: an Active Setup entry remains"
  return 0
}
remember() { SECONDS_AT=$SECONDS; }
took() { timing+=" $1 $((SECONDS - SECONDS_AT))s"; remember; }

life() {  # x86 | x64
  arch=$1
  local msi=$scratch/release/WebCorvaneBHO-6.0.0.5-$arch.msi
  local next=$scratch/next/WebCorvaneBHO-$next_version-$arch.msi
  local code next_code folder
  code=$(product_code "$msi")
  next_code=$(product_code "$next")
  export WINEPREFIX=$scratch/prefix-$arch
  if [ "$arch" = x86 ]; then
    export WINEARCH=win32
    views=("") arp_view="" host_bits=x86 host_place=HKLM offer_views=("")
  else
    export WINEARCH=win64
    views=(/reg:32 /reg:64) arp_view=/reg:64 host_bits=x64 host_place="HKLM (64-bit view)"
    # The offer in the view the browsers read, and not in the other.
    offer_views=(/reg:32 /reg:64)
    # Nothing can write the 32-bit view here.
    [ "$runs32" = 1 ] || views=(/reg:64)
  fi
  WINE=$(wine_loader "$WINEARCH")
  timing="" && remember
  wineserver -p </dev/null >/dev/null 2>&1
  wine wineboot -i </dev/null >/dev/null 2>&1
  wine cmd /c exit 0 </dev/null >/dev/null 2>&1
  # A Maxthon installation with its plug-in folder.
  mkdir -p "$WINEPREFIX/drive_c/Maxthon/Plugin"
  reg_ add 'HKCU\Software\Maxthon' /v Folder /d 'C:\Maxthon' /f >/dev/null
  other_browsers
  took prefix

  # What regsvr32 writes for the same DLLs in the same places.
  snapshot >"$scratch/before"
  host_snapshot >"$scratch/hosts-before"
  each_dll regsvr32_register
  snapshot >"$scratch/registered"
  grep -q InprocServer32 "$scratch/registered" && grep -q CLSID= "$scratch/registered" ||
    fail "$arch: regsvr32 registered nothing to compare with"
  each_dll regsvr32_unregister
  while IFS='|' read -r folder _; do rm -rf "$folder"; done < <(folders)
  snapshot >"$scratch/now"
  same "$arch: regsvr32 /u did not undo regsvr32" "$scratch/before" "$scratch/now"
  took regsvr32

  msiexec_ "$arch install" /i "$(win "$msi")"
  snapshot >"$scratch/now"
  same "$arch install: registration differs from regsvr32's" "$scratch/registered" "$scratch/now"
  each_dll files_in_place "$arch install"
  each_dll host_in_place "$arch install"
  offered "$arch install (built without store IDs)" no
  each_dll checked "$arch install"
  while IFS='|' read -r folder bits tool; do
    active_setup "$arch install" "$folder" "$bits" 6.0.0.5
  done < <(folders)
  snapshot >"$scratch/now"
  same "$arch install: Active Setup's per-user step differs from regsvr32's" "$scratch/registered" "$scratch/now"
  [ "$(entries)" = "$code 6.0.0.5 Vantor" ] || fail "$arch install: installed programs show '$(entries)'"
  took install

  each_dll edit_settings
  msiexec_ "$arch upgrade" /i "$(win "$next")"
  snapshot >"$scratch/now"
  same "$arch upgrade: registration differs from regsvr32's" "$scratch/registered" "$scratch/now"
  each_dll files_in_place "$arch upgrade"
  each_dll host_in_place "$arch upgrade"
  offered "$arch upgrade" yes
  each_dll settings_kept "$arch upgrade"
  while IFS='|' read -r folder bits tool; do
    active_setup "$arch upgrade" "$folder" "$bits" "$next_version"
  done < <(folders)
  [ "$(entries)" = "$next_code $next_version Vantor" ] || fail "$arch upgrade: installed programs show '$(entries)'"
  reg_ query "HKCR\\Installer\\Products\\$(packed "$code")" $arp_view | grep -q "^HKEY_" &&
    fail "$arch upgrade: Windows Installer still knows the earlier product"
  took upgrade

  each_dll break_dll
  msiexec_ "$arch repair" /i "$(win "$next")" REINSTALL=ALL REINSTALLMODE=omus
  snapshot >"$scratch/now"
  same "$arch repair: registration differs from regsvr32's" "$scratch/registered" "$scratch/now"
  each_dll files_in_place "$arch repair"
  each_dll host_in_place "$arch repair"
  offered "$arch repair" yes
  each_dll settings_kept "$arch repair"
  took repair

  msiexec_ "$arch removal" /x "$(win "$next")"
  snapshot >"$scratch/now"
  same "$arch removal: the registry or the plug-in is not as before" "$scratch/before" "$scratch/now"
  while IFS='|' read -r folder _; do
    [ ! -e "$folder" ] || fail "$arch removal: ${folder#"$WINEPREFIX"/} remains"
  done < <(folders)
  [ -z "$(entries)" ] || fail "$arch removal: installed programs still show '$(entries)'"
  no_active_setup "$arch removal"
  host_snapshot >"$scratch/now"
  same "$arch removal: the browsers' keys are not as before" "$scratch/hosts-before" "$scratch/now"
  offered "$arch removal" no
  each_dll nothing_left "$arch removal"
  reg_ query "HKCR\\Installer\\Products\\$(packed "$next_code")" $arp_view | grep -q "^HKEY_" &&
    fail "$arch removal: Windows Installer still knows the product"
  took removal

  # An administrator who deploys the extension by policy turns the offer off;
  # the host is installed as ever.
  msiexec_ "$arch install without the offer" /i "$(win "$next")" OFFER_EXTENSION=0
  offered "$arch install without the offer" no
  each_dll host_in_place "$arch install without the offer"
  msiexec_ "$arch removal without the offer" /x "$(win "$next")"
  took "install without the offer"

  stop_wine
  rm -rf "$WINEPREFIX"
  echo "package $arch:$timing"
}

# The x86 package where it cannot be installed: the files it would install
# are the release's, and its tables say what its life above would show.
x86_contents() {
  local msi=$scratch/release/WebCorvaneBHO-6.0.0.5-x86.msi f table
  msiextract -C "$scratch/x86-files" "$msi" >/dev/null || fail "x86: cannot unpack the package"
  for f in WebCorvaneBHO.dll url_explainer.exe WebCorvaneHost.exe com.webcorvane.handoff.json \
           com.webcorvane.handoff.firefox.json; do
    cmp -s "$(find "$scratch/x86-files" -name "$f" | head -1)" "$release/x86/$f" ||
      fail "x86: the package's $f is not the release's"
  done
  for f in UserConfig.ini USER-GUIDE.txt; do
    [ -n "$(find "$scratch/x86-files" -name "$f")" ] || fail "x86: the package holds no $f"
  done
  [ -z "$(find "$scratch/x86-files" -path '*x64*')" ] || fail "x86: the package holds 64-bit files"
  for table in SelfReg Component LaunchCondition Upgrade Property; do
    msiinfo export "$msi" $table | tr -d '\r' >"$scratch/x86-$table"
  done
  grep -qx $'Dll32\t0' "$scratch/x86-SelfReg" && [ "$(tail -n +4 "$scratch/x86-SelfReg" | wc -l)" = 1 ] ||
    fail "x86: SelfReg is not the 32-bit DLL alone: $(tail -n +4 "$scratch/x86-SelfReg" | tr '\n' '|')"
  awk -F'\t' '$1 == "Config32" && $4 == 128 { found = 1 } END { exit !found }' "$scratch/x86-Component" ||
    fail "x86: the settings may be overwritten"
  grep -q $'^NOT VersionNT64\t' "$scratch/x86-LaunchCondition" || fail "x86: no 32-bit Windows condition"
  grep -q $'\t768\t\tWEBCORVANE_OLDER$' "$scratch/x86-Upgrade" || fail "x86: the upgrade does not include its maximum"
  grep -qx $'ALLUSERS\t1' "$scratch/x86-Property" || fail "x86: not a per-machine package"
  # The offer: none without store IDs; with them, each browser's key in the
  # only view, while OFFER_EXTENSION is 1.
  grep -q '^Offer' "$scratch/x86-Component" && fail "x86: built without store IDs, it offers the extension"
  local next=$scratch/next/WebCorvaneBHO-$next_version-x86.msi key
  msiinfo export "$next" Registry | tr -d '\r' >"$scratch/x86-next-Registry"
  msiinfo export "$next" Component | tr -d '\r' >"$scratch/x86-next-Component"
  for key in "${OFFER_KEYS[@]}"; do
    grep -qF "$(printf '\t2\t%s\tupdate_url\t%s\tOffer' "${key%|*}" "${key#*|}")" "$scratch/x86-next-Registry" ||
      fail "x86: the later package does not offer ${key%|*}"
  done
  [ "$(awk -F'\t' '$1 ~ /^Offer/ && $4 == 4 && $5 == "OFFER_EXTENSION = \"1\""' "$scratch/x86-next-Component" | wc -l)" = 2 ] ||
    fail "x86: the offer's components are not 32-bit ones conditioned on OFFER_EXTENSION: $(grep '^Offer' "$scratch/x86-next-Component" | tr '\n' '|')"
  echo "package x86: files and tables checked"
}

if [ "$runs32" = 1 ]; then
  life x86
else
  x86_contents
  left_out+=("the x86 package's life in a 32-bit prefix" "the x64 package's 32-bit DLL registration")
fi
life x64

if [ "${#left_out[@]}" -ne 0 ]; then
  for what in "${left_out[@]}"; do echo "package: NOT RUN here ($(wine32_unavailable_reason)): $what"; done
fi
[ $failures -eq 0 ] && echo "package: signed, installed, upgraded to $next_version, repaired and removed the packages this machine can run"
exit $((failures != 0))

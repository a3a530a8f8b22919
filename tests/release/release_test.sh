#!/usr/bin/env bash
# Builds the release archive, unpacks it, and runs its install and uninstall
# scripts under Wine in a fresh 64-bit prefix of its own: both DLLs must be
# registered, each in its own registry view, and the 64-bit native messaging
# host for this user in Chrome's and Edge's keys; and all of it removed again.
# The installation check of each bitness then runs from the archive, and the
# archive's extension is checked as a folder and as the stores' zip.
#
# Where this machine runs no 32-bit programs, what needs one (the 32-bit
# prompt, the 32-bit regsvr32, the x86 explainer) is left out and named; the
# 64-bit half of install.cmd and uninstall.cmd still runs.
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
source scripts/wine_env.sh
runs32=1
wine_runs_32bit || runs32=0
# Every program of this 64-bit prefix through the 64-bit loader.
wine() { command "$(wine64_loader)" "$@"; }

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
wine wineboot -i </dev/null >/dev/null 2>&1
wine cmd /c exit 0 </dev/null >/dev/null 2>&1

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# The settings beside each DLL and host, which read the one in their own
# folder; none at the root, where nothing reads it.
for arch in x86 x64; do
  tr -d '\r' <"$folder/$arch/UserConfig.ini" 2>/dev/null | cmp -s - <(tr -d '\r' <release/UserConfig.ini) ||
    fail "$arch: no UserConfig.ini like the release's beside the DLL"
done
[ ! -e "$folder/UserConfig.ini" ] || fail "a UserConfig.ini at the archive's root, where nothing reads it"
key='HKLM\Software\Classes\CLSID\{00000AAA-A363-466E-BEF5-9BB68697AA7F}\InprocServer32'
server() {  # the registered DLL of one view, nothing, or "<unreadable>"
  local out
  out=$(wine_reg_query wine "$key" /ve "$@")
  [ $? -eq 2 ] && { echo "<unreadable>"; return; }
  printf '%s\n' "$out" | sed -n 's/^    .*    REG_SZ    //p'
}

win_folder=$(wine winepath -w "$folder" </dev/null 2>/dev/null | tr -d '\r')
# This user's registration of the host: the manifest each browser's key
# names, or nothing; and whether any key of the browsers' makers is left.
browsers=('Google\Chrome' 'Microsoft\Edge')
host_manifest() {  # Google\Chrome | Microsoft\Edge
  local out
  out=$(wine_reg_query wine "HKCU\\Software\\$1\\NativeMessagingHosts\\com.webcorvane.handoff" /ve)
  [ $? -eq 2 ] && { echo "<unreadable>"; return; }
  printf '%s\n' "$out" | sed -n 's/^    .*    REG_SZ    //p'
}
makers_keys() {  # the makers' keys under HKCU\Software, one a line
  wine_reg_query wine 'HKCU\Software' | grep -i '\\Google$'
  wine_reg_query wine 'HKCU\Software\Microsoft' | grep -i '\\Edge$'
}
makers_before=$(makers_keys)
host_registered() {  # who
  local b
  for b in "${browsers[@]}"; do
    [ "$(host_manifest "$b")" = "$win_folder\\x64\\com.webcorvane.handoff.json" ] ||
      fail "$1: $b's key names '$(host_manifest "$b")', not the x64 host's manifest"
  done
}
host_removed() {  # who
  local b
  for b in "${browsers[@]}"; do
    [ -z "$(host_manifest "$b")" ] || fail "$1: $b's key remains"
  done
  [ "$(makers_keys)" = "$makers_before" ] || fail "$1: left behind: $(makers_keys | tr '\n' ' ')"
}
# The 64-bit command prompt, as a double click starts it, and a 32-bit one,
# which must reach the 64-bit regsvr32 through Sysnative.
prompts=(64 32)
[ $runs32 = 1 ] || prompts=()
for bits in "${prompts[@]}"; do
  loader=$(wine_loader win32)
  [ $bits = 64 ] && loader=$(wine64_loader)
  (cd "$folder" && "$loader" cmd /c install.cmd </dev/null) | tr -d '\r'
  [ "$(server /reg:32)" = "$win_folder\\x86\\WebCorvaneBHO.dll" ] ||
    fail "$bits-bit prompt: 32-bit view names '$(server /reg:32)', not the x86 DLL"
  [ "$(server /reg:64)" = "$win_folder\\x64\\WebCorvaneBHO.dll" ] ||
    fail "$bits-bit prompt: 64-bit view names '$(server /reg:64)', not the x64 DLL"
  host_registered "$bits-bit prompt"

  (cd "$folder" && "$loader" cmd /c uninstall.cmd </dev/null) | tr -d '\r'
  [ -z "$(server /reg:32)" ] || fail "$bits-bit prompt: the 32-bit registration remains"
  [ -z "$(server /reg:64)" ] || fail "$bits-bit prompt: the 64-bit registration remains"
  host_removed "$bits-bit prompt"
done

# No 32-bit program runs here, so the prefix has no SysWOW64 programs and the
# scripts take the road of 32-bit Windows: install.cmd must say that the
# 32-bit DLL could not be registered. The 64-bit DLL is registered and removed
# by hand, as the scripts do on 64-bit Windows.
install_x64() {
  if [ $runs32 = 1 ]; then
    (cd "$folder" && wine cmd /c install.cmd </dev/null) >/dev/null
    return
  fi
  local said
  said=$(cd "$folder" && { wine cmd /c install.cmd </dev/null; echo "exit $?"; } | tr -d '\r')
  # Success only with the 32-bit registration: a machine told to take this
  # road (WEBCORVANE_32BIT=no) may still run the 32-bit regsvr32.
  if grep -qx "exit 0" <<<"$said"; then
    [ "$(server /reg:32)" = "$win_folder\\x86\\WebCorvaneBHO.dll" ] ||
      fail "install.cmd reports success without the 32-bit registration: '$said'"
  else
    grep -q "could not be registered" <<<"$said" && grep -qx "exit 1" <<<"$said" ||
      fail "install.cmd fails without saying so: '$said'"
  fi
  wine regsvr32 /s "$win_folder\\x64\\WebCorvaneBHO.dll" </dev/null >/dev/null 2>&1 ||
    fail "the 64-bit regsvr32 answered $?"
  wine "$folder/x64/WebCorvaneHost.exe" --register-user </dev/null >/dev/null 2>&1 ||
    fail "the 64-bit host's --register-user answered $?"
}
if [ $runs32 = 0 ]; then
  install_x64
  [ "$(server /reg:64)" = "$win_folder\\x64\\WebCorvaneBHO.dll" ] ||
    fail "64-bit view names '$(server /reg:64)', not the x64 DLL"
  host_registered "install"
fi
uninstall_x64() {
  if [ $runs32 = 1 ]; then
    (cd "$folder" && wine cmd /c uninstall.cmd </dev/null) >/dev/null
  else
    wine regsvr32 /s /u "$win_folder\\x64\\WebCorvaneBHO.dll" </dev/null >/dev/null 2>&1
    wine "$folder/x64/WebCorvaneHost.exe" --unregister-user </dev/null >/dev/null 2>&1
  fi
  [ -z "$(server /reg:64)" ] || fail "the 64-bit registration remains"
  host_removed "uninstall"
}
[ $runs32 = 1 ] || uninstall_x64

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
install_x64
host_registered "install"
arches=(x86 x64)
[ $runs32 = 1 ] || arches=(x64)
for arch in "${arches[@]}"; do
  check $arch 2 "problem: download agent: \"CorvaneServer.WebCorvane.1\" is not registered"
  [ "$(grep -c -v '^ok: ' "$scratch/check")" = 2 ] || fail "$arch check: more than the agent is wrong"
  grep -q "^ok: helper class: .*the one beside this program" "$scratch/check" ||
    fail "$arch check: the helper is not the DLL beside it"
  grep -qiF "ok: settings: $win_folder\\$arch\\UserConfig.ini, read by $win_folder\\$arch\\" "$scratch/check" ||
    fail "$arch check: the DLL does not read the UserConfig.ini beside it"
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
if [ $runs32 = 1 ]; then
  wine regsvr32 /s /u "$win_folder\\x64\\WebCorvaneBHO.dll" </dev/null >/dev/null 2>&1
  check x64 2 "problem: helper class: registered for 32-bit browsers only"
fi
uninstall_x64

# The extension: the folder to load unpacked keeps its "key" (our ID) and
# takes the release's version, with the icons its manifest names; the stores'
# zip holds the same files with manifest.json at its root and no "key", which
# the stores refuse. Firefox's
# build holds the same files, with our Firefox ID and a background of scripts;
# Firefox's host manifest beside each host names the same program for that ID.
# The administrative templates come in both languages, for our IDs.
python3 - "$folder" "$(basename "$archive" .zip)" <<'PY' || fail "the extension is not as it should be"
import json, os, sys, zipfile
folder, name = sys.argv[1:]
version = name.split("-", 1)[1]
unpacked = os.path.join(folder, "extension")
def tree(top):
    return sorted(os.path.relpath(os.path.join(d, f), top).replace(os.sep, "/")
                  for d, _, names in os.walk(top) for f in names)
files = tree(unpacked)
store = zipfile.ZipFile(os.path.join(folder, f"WebCorvane-extension-{version}.zip"))
wrong = []
# The icons are rendered from the drawing, which stays out of the packages.
icons = [f for f in files if f.startswith("icons/") and f.endswith(".png")]
copied = [f for f in tree("extension") if f != "icons/webcorvane.svg"]
if files != sorted(copied + icons):
    wrong.append(f"the folder holds {files}, the source {copied} and the icons")
if sorted(store.namelist()) != files:
    wrong.append(f"the zip holds {sorted(store.namelist())}, the folder {files}")
manifest = json.load(open(os.path.join(unpacked, "manifest.json"), encoding="utf-8"))
stored = json.loads(store.read("manifest.json"))
if "key" not in manifest or manifest["version"] != version:
    wrong.append("the folder's manifest lacks its key or the release's version")
named = list(manifest.get("icons", {}).values()) + list(manifest["action"].get("default_icon", {}).values())
if "128" not in manifest.get("icons", {}) or not set(named) <= set(icons):
    wrong.append(f"the manifest names the icons {named}, the folder holds {icons}")
if "key" in stored or dict(stored, key=manifest.get("key")) != manifest:
    wrong.append("the zip's manifest is not the folder's without its key")
for f in files:
    if f != "manifest.json" and store.read(f) != open(os.path.join(unpacked, f), "rb").read():
        wrong.append(f"{f} differs between the folder and the zip")
    if f in copied and f != "manifest.json" and store.read(f) != open(os.path.join("extension", f), "rb").read():
        wrong.append(f"{f} is not the source's")
firefox = zipfile.ZipFile(os.path.join(folder, f"WebCorvane-firefox-{version}.xpi"))
gecko = json.loads(firefox.read("manifest.json"))
if sorted(firefox.namelist()) != files or any(firefox.read(f) != store.read(f) for f in files if f != "manifest.json"):
    wrong.append(f"Firefox's build holds {sorted(firefox.namelist())}, not the extension's files")
if ("key" in gecko or gecko["version"] != version or "webRequestBlocking" not in gecko["permissions"]
        or gecko["background"].get("scripts") != [manifest["background"]["service_worker"]]
        or gecko["browser_specific_settings"]["gecko"]["id"] != "webcorvane@corvane.com"):
    wrong.append(f"Firefox's manifest is not Firefox's: {gecko}")
for bits in ("x86", "x64"):
    chromium = json.load(open(os.path.join(folder, bits, "com.webcorvane.handoff.json"), encoding="utf-8"))
    host = json.load(open(os.path.join(folder, bits, "com.webcorvane.handoff.firefox.json"), encoding="utf-8"))
    if host != dict({k: v for k, v in chromium.items() if k != "allowed_origins"},
                    allowed_extensions=["webcorvane@corvane.com"]):
        wrong.append(f"{bits}: Firefox's host manifest is {host}")
# The administrative templates: each string and presentation the ADMX names
# is in both languages' ADML, and its keys are Chrome's and Edge's for an ID
# the host allows.
import re
import xml.etree.ElementTree as ET
policy = os.path.join(folder, "policy")
try:
    admx = open(os.path.join(policy, "webcorvane.admx"), encoding="utf-8").read()
    ET.fromstring(admx.encode("utf-8"))
    needed = set(re.findall(r"\$\((string|presentation)\.(\w+)\)", admx))
    for language in ("en-US", "zh-CN"):
        adml = ET.parse(os.path.join(policy, language, "webcorvane.adml")).getroot()
        defined = {(e.tag.split("}")[1], e.get("id")) for e in adml.iter() if e.get("id")}
        if needed - defined:
            wrong.append(f"{language}/webcorvane.adml lacks {sorted(needed - defined)}")
    allowed = {o.split("/")[2] for o in chromium["allowed_origins"]}
    for maker in ("Google\\Chrome", "Microsoft\\Edge"):
        key = re.escape(f"Software\\Policies\\{maker}\\3rdparty\\extensions\\")
        ids = set(re.findall(key + r"([a-p]{32})\\policy", admx))
        if not ids or not ids <= allowed:
            wrong.append(f"the ADMX's {maker} keys name {ids or 'no ID'}, the host allows {allowed}")
except (OSError, ET.ParseError) as error:
    wrong.append(f"the administrative templates: {error}")
for w in wrong:
    print("FAIL:", w)
sys.exit(1 if wrong else 0)
PY

if [ $runs32 = 0 ]; then
  echo "release: NOT RUN here ($(wine32_unavailable_reason)): the 32-bit prompt, install.cmd and uninstall.cmd on 64-bit Windows (both DLLs), the x86 explainer's check, the 64-bit check of a helper registered for 32-bit browsers only"
fi
what="both DLLs"
[ $runs32 = 1 ] || what="the 64-bit DLL"
[ $failures -eq 0 ] && echo "release: installed and removed $what and the host for this user from $(basename "$archive"), and checked it and its extension"
exit $((failures != 0))

#!/usr/bin/env bash
# The main job: set up, build, then show the DLL at work in the platform's own
# WebBrowser control (tools/browser_host), in a fresh headless Wine prefix,
# against a local web server and the reference agent: which links are handed
# over, what the agent recorded, when the download manager is asked, and that
# unregistration leaves nothing behind; then the same kinds of links in
# Chromium and Firefox, through the browser extension and the native host. Every decision
# is compared with the one the configuration calls for; any difference makes
# the script exit non-zero.
#
# It shows the 32-bit DLL (the one Internet Explorer and Maxthon load by
# default) where this machine runs 32-bit programs, and otherwise the 64-bit
# DLL in the 64-bit control, with the 64-bit agent and host.
#
#   bash scripts/demo.sh                      set up, build both DLLs, run it
#   bash scripts/demo.sh --quick win32|win64  run it on that existing build only
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine_env.sh

quick=0
arch=
if [ "${1:-}" = --quick ]; then
  quick=1
  arch=${2:-win32}
fi

if [ "$quick" -eq 0 ]; then
  bash scripts/setup.sh
  for preset in mingw-i686 mingw-x86_64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" >/dev/null
  done
  if wine_runs_32bit; then
    arch=win32
    why="this machine runs 32-bit programs, and 32-bit browsers are the ones that load the helper by default"
  else
    arch=win64
    why="$(wine32_unavailable_reason): the 32-bit DLL is built and not shown"
  fi
else
  why="asked for with --quick $arch"
fi

if [ "$arch" = win64 ]; then
  preset=mingw-x86_64 bits=64
else
  preset=mingw-i686 bits=32
fi
echo "== showing the $bits-bit DLL in the $bits-bit WebBrowser control ($why)"
WINE=$(wine_loader "$arch")
if [ "$arch" = win32 ] && ! wine_runs_32bit; then
  echo "cannot show the 32-bit DLL: $(wine32_unavailable_reason)"
  exit 1
fi

started=$(date +%s)
root=$PWD
build=$root/build/$preset
for f in "$build/shipped/WebCorvaneBHO.dll" "$build/agent/CorvaneAgent.exe" "$build/tools/browser_host.exe"; do
  [ -f "$f" ] || { echo "missing $f: build the $preset preset first"; exit 1; }
done

# A prefix of its own, fresh every run: what registration writes is checked
# against a registry nobody else touched.
export WINEPREFIX=$root/build/demo-prefix-$arch
export WINEARCH=$arch
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
# The ANSI code page follows the locale: 1252, as on a western Windows.
wine() { LC_ALL=en_US.UTF-8 command "$WINE" "$@"; }

work=$root/build/demo-work-$arch
server_pid=
stop_wineserver() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
  stop_wineserver
}
trap cleanup EXIT

rm -rf "$WINEPREFIX" "$work"
mkdir -p "$work" "$WINEPREFIX"
wineserver -p </dev/null >/dev/null 2>&1
wine wineboot -i </dev/null >/dev/null 2>&1
wine cmd /c exit 0 </dev/null >/dev/null 2>&1
# Headless: without a display driver the control cannot make its window.
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1

# The programs in a folder of the prefix; UserConfig.ini goes beside the DLL.
bin=$WINEPREFIX/drive_c/webcorvane
mkdir -p "$bin" "$work/downloads"
cp "$build/shipped/WebCorvaneBHO.dll" "$build/agent/CorvaneAgent.exe" "$build/tools/browser_host.exe" "$bin/"
winpath() { wine winepath -w "$1" </dev/null 2>/dev/null | tr -d '\r'; }
dll_win='C:\webcorvane\WebCorvaneBHO.dll'
record=$work/agent-records.txt
record_win=$(winpath "$record")
downloads_win=$(winpath "$work/downloads")

# Lines the agent has recorded so far.
record_lines() { if [ -f "$record" ]; then wc -l <"$record"; else echo 0; fi; }

failures=0
fail() {
  echo "  DIFFERENCE: $*"
  failures=$((failures + 1))
}

wine regsvr32 /s "$dll_win" </dev/null >/dev/null 2>&1 || fail "regsvr32 answered $?"
wine "$bin/CorvaneAgent.exe" /RegServer </dev/null >/dev/null 2>&1 || fail "agent registration failed"
wine reg add 'HKCU\Software\Corvane\ReferenceAgent' /v RecordFile /d "$record_win" /f \
  </dev/null >/dev/null 2>&1
wine reg add 'HKCU\Software\Corvane\ReferenceAgent' /v Answer /d 1 /f </dev/null >/dev/null 2>&1
# Restart the prefix's server: the system processes started while the prefix
# was made do not activate the agent registered after them.
stop_wineserver
wineserver -p </dev/null >/dev/null 2>&1
wine cmd /c exit 0 </dev/null >/dev/null 2>&1

# The web site: a page and files of every kind the links point to.
site=$work/site
mkdir -p "$site/files"
cat >"$site/index.html" <<'EOF'
<html><body><a href="files/a.zip">a.zip</a> <a href="files/page.html">page</a></body></html>
EOF
cp "$site/index.html" "$site/files/page.html"
for f in a.zip setup.exe song.mp3 download.php SETUP.EXE; do
  head -c 2048 /dev/urandom >"$site/files/$f"
done
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
python3 -m http.server "$port" --bind 127.0.0.1 --directory "$site" >"$work/http.log" 2>&1 &
server_pid=$!
for _ in $(seq 50); do
  python3 -c "import urllib.request; urllib.request.urlopen('http://127.0.0.1:$port/')" 2>/dev/null && break
  sleep 0.1
done
base=http://127.0.0.1:$port

# The links, each with a short name for the expectation tables below.
names=(zip exe mp3 html query corvane caps)
links=("$base/files/a.zip" "$base/files/setup.exe" "$base/files/song.mp3" "$base/files/page.html"
       "$base/files/download.php?file=a.zip" "corvane://127.0.0.1/files/a.zip"
       "$base/files/SETUP.EXE")

config=$bin/UserConfig.ini
write_config() {
  if [ -z "$1" ]; then rm -f "$config"; else printf '%b' "$1" >"$config"; fi
}

# One pass: the host on every link, its lines compared with `expected`
# ("C" handed over by the helper, else the download manager's answer and
# whether the host downloaded: "L:E_NOTIMPL:yes", "L:not asked:no", ...).
run_pass() {
  local title=$1
  shift
  local -A expected=()
  local pair
  for pair in "$@"; do expected[${pair%%=*}]=${pair#*=}; done
  echo
  echo "== $title"
  local before
  before=$(record_lines)
  local requests_before
  requests_before=$(wc -l <"$work/http.log")
  local out
  out=$(wine "$bin/browser_host.exe" --download-dir "$downloads_win" --timeout-ms 5000 \
    "${links[@]}" </dev/null 2>/dev/null | tr -d '\r')
  grep -q '^1 helpers$' <<<"$out" || fail "$title: the host did not load exactly one helper"
  grep -q 'DllCanUnloadNow .*: S_OK$' <<<"$out" || fail "$title: the DLL does not agree to unload"
  local handed=0 i
  for i in "${!links[@]}"; do
    local url=${links[$i]} name=${names[$i]} line helper manager downloaded got
    line=$(grep -F "$url | " <<<"$out" | head -1)
    helper=$(sed -n 's/.* | helper: \([^|]*\) | .*/\1/p' <<<"$line")
    manager=$(sed -n 's/.* | download manager: \([^|]*\) | .*/\1/p' <<<"$line")
    downloaded=$(sed -n 's/.* | host downloaded: \(.*\)$/\1/p' <<<"$line")
    case $helper in
      "cancelled (handed over)") got=C; handed=$((handed + 1)) ;;
      "let through") got="L:$manager:$downloaded" ;;
      *) got="?:$helper" ;;
    esac
    [ "$manager" = S_OK ] && handed=$((handed + 1))
    printf '  %-52s %-24s manager: %-10s downloaded: %s\n' "$url" "${helper:-<no line>}" \
      "${manager:--}" "${downloaded:--}"
    [ "$got" = "${expected[$name]}" ] || fail "$name: got '$got', expected '${expected[$name]}'"
    # A link handed over by the helper never reaches the web server.
    if [ "$got" = C ] && [[ $url == http* ]]; then
      local path=${url#"$base"}
      tail -n +"$((requests_before + 1))" "$work/http.log" | grep -qF "\"GET $path " &&
        fail "$name: the server saw a request for a cancelled navigation"
    fi
  done
  local after
  after=$(record_lines)
  echo "  the agent recorded $((after - before)) task(s):"
  if [ "$after" -gt "$before" ]; then
    tail -n +"$((before + 1))" "$record" | tr -d '\r' |
      awk -F'\t' '{printf "    url: %s | comment: \"%s\" | referrer: \"%s\"\n", $1, $2, $3}'
  fi
  [ $((after - before)) -eq "$handed" ] ||
    fail "$title: $handed hand-over(s) but $((after - before)) agent record(s)"
  passes=$((passes + 1))
}

passes=0
# On Windows 7 (Wine's default) the download manager declines every request.
win7_default=(zip=C exe=C mp3=C html="L:not asked:no" query="L:E_NOTIMPL:yes" corvane=C caps=C)
win7_off=(zip="L:E_NOTIMPL:yes" exe="L:E_NOTIMPL:yes" mp3="L:E_NOTIMPL:yes" html="L:not asked:no"
          query="L:E_NOTIMPL:yes" corvane="L:not asked:no" caps="L:E_NOTIMPL:yes")
win7_mp3=(zip="L:E_NOTIMPL:yes" exe="L:E_NOTIMPL:yes" mp3=C html="L:not asked:no"
          query="L:E_NOTIMPL:yes" corvane=C caps="L:E_NOTIMPL:yes")
# On XP it decides: a link the helper let through is declined (the browser
# just navigated to it), one the helper never looked at ("?") is handed over
# when the policy takes it.
xp_default=(zip=C exe=C mp3=C html="L:not asked:no" query="L:S_OK:no" corvane=C caps=C)
xp_off=("${win7_off[@]}")
# With ".mp3;" alone the "?" link names a .zip: the manager declines it too.
xp_mp3=("${win7_mp3[@]}")

for version in win7 xp; do
  if [ "$version" = xp ]; then
    wine reg add 'HKCU\Software\Wine\AppDefaults\browser_host.exe' /v Version /d winxp /f \
      </dev/null >/dev/null 2>&1
    label="Windows XP"
  else
    label="Windows 7"
  fi
  write_config ""
  eval "run_pass \"$label, no UserConfig.ini\" \"\${${version}_default[@]}\""
  write_config '[Monitor]\r\nMonitorIE=0\r\n'
  eval "run_pass \"$label, MonitorIE=0\" \"\${${version}_off[@]}\""
  write_config '[Monitor]\r\nMonitorIE=1\r\nExtendNames=.mp3;\r\n'
  eval "run_pass \"$label, ExtendNames=.mp3;\" \"\${${version}_mp3[@]}\""
done
write_config ""
wine reg delete 'HKCU\Software\Wine\AppDefaults\browser_host.exe' /f </dev/null >/dev/null 2>&1

echo
echo "== unregistration"
wine regsvr32 /u /s "$dll_win" </dev/null >/dev/null 2>&1 || fail "regsvr32 /u answered $?"
wine "$bin/CorvaneAgent.exe" /UnregServer </dev/null >/dev/null 2>&1 || true
BHO='{00000AAA-A363-466E-BEF5-9BB68697AA7F}'
DM='{15BD4A12-BEDA-4A4D-8FB1-04553F1FD1CB}'
for key in "HKCR\\CLSID\\$BHO" "HKCR\\CLSID\\$DM" 'HKCR\WebCorvaneBHO.WebCorvaneIEHelper' \
           'HKCR\WebCorvaneBHO.VDownloadManager' 'HKCR\TypeLib\{EB9F911B-5E47-497C-8DA3-ECBFC9FB1F68}' \
           "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects\\$BHO"; do
  if wine reg query "$key" </dev/null >/dev/null 2>&1; then
    fail "$key is still there"
  else
    echo "  gone: $key"
  fi
done
for hive in HKLM HKCU; do
  if wine reg query "$hive\\Software\\Microsoft\\Internet Explorer" /v DownloadUI </dev/null >/dev/null 2>&1; then
    fail "$hive DownloadUI is still there"
  else
    echo "  gone: $hive\\Software\\Microsoft\\Internet Explorer DownloadUI"
  fi
done
out=$(wine "$bin/browser_host.exe" </dev/null 2>/dev/null | tr -d '\r')
grep -q '^0 helpers$' <<<"$out" || fail "the host still finds a helper after unregistration"
echo "  the host now loads: $(grep helpers <<<"$out")"

# The same kinds of links in Chromium and in Firefox, through the browser
# extension and the native host of the same bitness, against the same agent
# (registered again): the extension's end-to-end test, run in this prefix,
# shows each decision and what the agent received, and fails on any
# difference. A browser that cannot run here is said so and skipped.
host_exe=$build/shipped/native_host/WebCorvaneHost.exe
browsers_shown=()
prepared=0
for browser in chromium:Chromium firefox:Firefox; do
  name=${browser#*:} browser=${browser%%:*}
  echo
  echo "== $name: the browser extension and the $bits-bit native host"
  why=$(bash "tests/extension/${browser}_probe.sh")
  if [ -n "$why" ]; then
    echo "  not shown: $why"
    browsers_shown+=("$name not shown ($why)")
    continue
  elif [ ! -f "$host_exe" ]; then
    fail "missing $host_exe: build the $preset preset first"
    browsers_shown+=("$name not shown")
    continue
  fi
  if [ $prepared = 0 ]; then
    prepared=1
    cp "$host_exe" "$bin/"
    wine "$bin/CorvaneAgent.exe" /RegServer </dev/null >/dev/null 2>&1 || fail "agent registration failed"
    # How the test starts a Windows program in this prefix.
    printf '#!/bin/sh\nexport WINEPREFIX=%q WINEARCH=%q WINEDEBUG=-all WINEDLLOVERRIDES=%q\nunset DISPLAY WAYLAND_DISPLAY\nexec env LC_ALL=en_US.UTF-8 %q "$@"\n' \
      "$WINEPREFIX" "$arch" "mscoree,mshtml=" "$WINE" >"$work/wine-run"
    chmod +x "$work/wine-run"
  fi
  if node tests/extension/e2e.mjs --browser "$browser" --wine-run "$work/wine-run" --host "$bin/WebCorvaneHost.exe" \
       --agent "$bin/CorvaneAgent.exe" --work "$work/$browser" | sed 's/^/  /'; then
    browsers_shown+=("every $name case as expected")
  else
    fail "$name: see the cases above"
    browsers_shown+=("$name cases differ")
  fi
done

echo
echo "== summary ($bits-bit DLL): $passes passes of ${#links[@]} links, $(ls "$work/downloads" | wc -l) file(s) the host downloaded itself, $(IFS=','; echo "${browsers_shown[*]}" | sed 's/,/, /g'), $(($(date +%s) - started)) s"
if [ "$failures" -ne 0 ]; then
  echo "$failures difference(s) from the expected decisions"
  exit 1
fi
echo "every decision as expected"

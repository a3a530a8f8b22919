#!/usr/bin/env bash
# The main job: set up, build, then show the DLL at work in the platform's own
# WebBrowser control (tools/browser_host), in a fresh headless Wine prefix,
# against a local web site and the reference agent: which links are handed
# over from the page of links, what the agent received, what it fetched with
# that (and that the site's files arrive byte for byte), when the download
# manager is asked, and that unregistration leaves nothing behind; then the
# same kinds of links in Chromium and Firefox, through the browser extension
# and the native host. Every decision and every fetched file is compared with
# what it should be; any difference makes the script exit non-zero.
#
# It shows the 32-bit DLL (the one Internet Explorer and Maxthon load by
# default) where this machine runs 32-bit programs, and otherwise the 64-bit
# DLL in the 64-bit control, with the 64-bit agent and host.
#
#   bash scripts/demo.sh                      set up, build both DLLs, run it
#   bash scripts/demo.sh --quick win32|win64  run it on that existing build only,
#                                             with two browser cases each
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine_env.sh
# A command that fails outside a step ends the demo (set -e): say which.
trap 'echo "demo: stopped at line $LINENO, where \"$BASH_COMMAND\" failed (exit $?)"' ERR

quick=0
arch=
if [ "${1:-}" = --quick ]; then
  quick=1
  arch=${2:-win32}
fi

# step <name> <command...>: runs a step of the set-up and build quietly; when
# it fails, says which and shows the end of what it printed.
step() {
  local name=$1 log rc=0
  shift
  log=$(mktemp)
  "$@" >"$log" 2>&1 || rc=$?
  if [ $rc -ne 0 ]; then
    echo "demo: $name failed (exit $rc); the end of its output:"
    tail -n 40 "$log"
    rm -f "$log"
    exit 1
  fi
  grep '^setup: ' "$log" || true
  rm -f "$log"
}

if [ "$quick" -eq 0 ]; then
  step "the set-up (scripts/setup.sh)" bash scripts/setup.sh
  for preset in mingw-i686 mingw-x86_64; do
    step "configuring the $preset build" cmake --preset "$preset"
    step "building the $preset tree" cmake --build --preset "$preset"
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
# Wine spells a file name outside ASCII only under a UTF-8 locale that is
# built: the agent saves a file under such a name.
export LOCPATH=$build/locales
if [ ! -f "$LOCPATH/en_US.UTF-8/LC_CTYPE" ]; then
  mkdir -p "$LOCPATH"
  localedef -i en_US -f UTF-8 "$LOCPATH/en_US.UTF-8" >/dev/null 2>&1 || true
  [ -f "$LOCPATH/en_US.UTF-8/LC_CTYPE" ] || { echo "cannot build the en_US.UTF-8 locale"; exit 1; }
fi
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
LC_ALL=en_US.UTF-8 wineserver -p </dev/null >/dev/null 2>&1
wine wineboot -i </dev/null >/dev/null 2>&1
wine cmd /c exit 0 </dev/null >/dev/null 2>&1
# Headless: without a display driver the control cannot make its window.
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1

# The programs in a folder of the prefix; UserConfig.ini goes beside the DLL.
bin=$WINEPREFIX/drive_c/webcorvane
mkdir -p "$bin" "$work/downloads" "$work/fetched"
cp "$build/shipped/WebCorvaneBHO.dll" "$build/agent/CorvaneAgent.exe" "$build/tools/browser_host.exe" "$bin/"
winpath() { wine winepath -w "$1" </dev/null 2>/dev/null | tr -d '\r'; }
dll_win='C:\webcorvane\WebCorvaneBHO.dll'
record=$work/agent-records.txt
record_win=$(winpath "$record")
downloads_win=$(winpath "$work/downloads")
fetched=$work/fetched
fetch_log=$fetched/CorvaneFetches.log

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
# The agent fetches every task it takes, with what it was handed.
wine reg add 'HKCU\Software\Corvane\ReferenceAgent' /v FetchFolder /d "$(winpath "$fetched")" /f \
  </dev/null >/dev/null 2>&1
# Restart the prefix's server: the system processes started while the prefix
# was made do not activate the agent registered after them.
stop_wineserver
LC_ALL=en_US.UTF-8 wineserver -p </dev/null >/dev/null 2>&1
wine cmd /c exit 0 </dev/null >/dev/null 2>&1

# The web site: a page of links and files of every kind they point to, with
# known bytes: the agent's fetches are compared with them.
site=$work/site
mkdir -p "$site/files"
for f in a.zip setup.exe song.mp3 download.php members.zip referred.zip tool-1.2.zip \
         notes.zip export.zip; do
  head -c 2048 /dev/urandom >"$site/files/$f"
done
# One file to Windows, which names files without regard to case.
cp "$site/files/setup.exe" "$site/files/SETUP.EXE"
: >"$work/http.log"
node scripts/demo_site.mjs "$site" "$work/port" "$work/http.log" >"$work/site.log" 2>&1 &
server_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || { echo "the web site did not start: $(cat "$work/site.log")"; exit 1; }
base=http://127.0.0.1:$(cat "$work/port")
page=$base/index.html

# The links, each with a short name for the expectation tables below.
names=(zip exe mp3 html query corvane caps)
links=("$base/files/a.zip" "$base/files/setup.exe" "$base/files/song.mp3" "$base/files/page.html"
       "$base/files/download.php?file=a.zip" "corvane://127.0.0.1/files/a.zip"
       "$base/files/SETUP.EXE")
# The links of a click on a real site: a sign-in (a form's POST that sets an
# HttpOnly session cookie), a file only for the signed-in, one only for a
# visitor coming from the page, a link that redirects to the file's real
# place, a file named outside ASCII by Content-Disposition, and a form whose
# POST answers a file.
site_names=(signin zip members referred redirect named form)
site_links=("$base/signin" "$base/files/a.zip" "$base/files/members.zip" "$base/files/referred.zip"
            "$base/latest/tool.zip" "$base/files/notes.zip" "$base/files/export.zip")
declare -A post_data=([signin]="user=demo&password=demo" [form]="format=zip")
named_as="Résumé 文件.zip"
{
  printf '<html><body>\n<form method="post" action="/signin"><input name="user"><input name="password" type="password"></form>\n'
  for url in "${links[@]}" "${site_links[@]:1:5}"; do printf '<a href="%s">%s</a>\n' "$url" "${url##*/}"; done
  printf '<form method="post" action="/files/export.zip"><button name="format" value="zip">export</button></form>\n</body></html>\n'
} >"$site/index.html"
cp "$site/index.html" "$site/files/page.html"

# The site's file behind a URL of the links (empty: none).
site_file() {
  case $1 in
    "$base/latest/tool.zip") echo "$site/files/tool-1.2.zip" ;;
    "$base"/*) local path=${1#"$base"}; echo "$site${path%%\?*}" ;;
  esac
}
sha() { sha256sum "$1" | cut -d' ' -f1; }

config=$bin/UserConfig.ini
write_config() {
  if [ -z "$1" ]; then rm -f "$config"; else printf '%b' "$1" >"$config"; fi
}

# A field of the agent's records unescaped (agent/task_record.h).
unescape() { printf '%s' "$1" | sed 's/\\t/\t/g; s/\\\\/\\/g'; }
said_no_text=0

# What the agent fetched for one task: its line in the fetch record, the
# status and size, and whether the file it saved equals the site's.
show_fetch() {
  local url=$1 line outcome status bytes hash name detail want
  line=$(tr -d '\r' <"$fetch_log" | tail -n +"$((fetches_before + 1))" | awk -F'\t' -v u="$url" '$1 == u' | head -1)
  IFS=$'\x1f' read -r _ outcome status bytes hash name detail <<<"$(tr '\t' '\037' <<<"$line")"
  want=$(site_file "$url")
  if [ -z "$line" ]; then
    fail "$url: the agent recorded no fetch"
  elif [ -z "$want" ]; then
    echo "      fetched: $outcome ($detail): no web server serves this URL"
    [ "$outcome" = failed ] || fail "$url: fetched as $outcome"
  elif [ "$outcome" != done ]; then
    echo "      fetched: $outcome, HTTP $status ($detail)"
    fail "$url: the agent's fetch $outcome"
  else
    name=$(unescape "$name")
    local same=no
    [ "$hash" = "$(sha "$want")" ] && [ -f "$fetched/$name" ] &&
      [ "$(sha "$fetched/$name")" = "$hash" ] && same=yes
    echo "      fetched: HTTP $status, $bytes bytes as \"$name\", SHA-256 equals the site's file: $same"
    [ "$same" = yes ] || fail "$url: the fetched file differs from ${want#"$site"}"
    [ "$bytes" = "$(stat -c %s "$want")" ] || fail "$url: $bytes bytes fetched"
    [ "$url" != "$base/files/notes.zip" ] || [ "$name" = "$named_as" ] ||
      fail "$url: saved as \"$name\", not \"$named_as\""
  fi
}

# One pass: the host on every link of `pass_names`/`pass_links`, after the page
# of links each time, its lines compared with `expected` ("C" handed over by
# the helper, else the download manager's answer and whether the host
# downloaded: "L:E_NOTIMPL:yes", "L:not asked:no", ...); then what the agent
# received for each task and what it fetched.
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
  fetches_before=$(fetch_lines)
  local requests_before
  requests_before=$(wc -l <"$work/http.log")
  local args=() i
  for i in "${!pass_links[@]}"; do
    [ -n "${post_data[${pass_names[$i]}]:-}" ] && args+=(--post "${post_data[${pass_names[$i]}]}")
    args+=("${pass_links[$i]}")
  done
  local out
  out=$(wine "$bin/browser_host.exe" --download-dir "$downloads_win" --timeout-ms 5000 \
    --page "$page" "${args[@]}" </dev/null 2>/dev/null | tr -d '\r')
  grep -q '^1 helpers$' <<<"$out" || fail "$title: the host did not load exactly one helper"
  grep -q 'DllCanUnloadNow .*: S_OK$' <<<"$out" || fail "$title: the DLL does not agree to unload"
  local handed=0
  for i in "${!pass_links[@]}"; do
    local url=${pass_links[$i]} name=${pass_names[$i]} line helper manager downloaded got
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
    local shown=$url
    [ -n "${post_data[$name]:-}" ] && shown="POST $url"
    printf '  %-52s %-24s manager: %-10s downloaded: %s\n' "$shown" "${helper:-<no line>}" \
      "${manager:--}" "${downloaded:--}"
    [ "$got" = "${expected[$name]}" ] || fail "$name: got '$got', expected '${expected[$name]}'"
    # A link handed over by the helper never reaches the web server from
    # the browser: only the agent asks for it.
    if [ "$got" = C ] && [[ $url == http* ]]; then
      local path=${url#"$base"}
      tail -n +"$((requests_before + 1))" "$work/http.log" | grep -v ' agent=CorvaneAgent/' |
        grep -qF "GET $path " &&
        fail "$name: the server saw a request for a cancelled navigation"
    fi
    # What the host downloaded itself equals the site's file.
    if [ "$downloaded" = yes ] && [ -n "$(site_file "$url")" ]; then
      local saved
      saved=$(find "$work/downloads" -maxdepth 1 -iname "$(basename "${url%%\?*}")" | head -1)
      [ -n "$saved" ] && [ "$(sha "$saved")" = "$(sha "$(site_file "$url")")" ] ||
        fail "$name: the file the host downloaded differs from the site's"
    fi
  done
  local after
  after=$(record_lines)
  echo "  the agent received $((after - before)) task(s), and fetched each:"
  [ $((after - before)) -eq "$handed" ] ||
    fail "$title: $handed hand-over(s) but $((after - before)) agent record(s)"
  # The agent fetches after it has answered: wait for its records.
  local waited
  for waited in $(seq 200); do
    [ $(($(fetch_lines) - fetches_before)) -ge $((after - before)) ] && break
    sleep 0.1
  done
  local url comment referrer cookie
  # Split at each tab, empty fields included.
  while IFS=$'\x1f' read -r url comment referrer _ cookie _; do
    comment=$(unescape "$comment")
    printf '    url: %s | link text: "%s" | referrer: %s | cookie: %s\n' "$url" "$comment" \
      "${referrer:-<none>}" "$([ -n "$cookie" ] && [ "$cookie" != '\N' ] && echo yes || echo no)"
    if [ -z "$comment" ] && [ "$said_no_text" -eq 0 ]; then
      echo "      (no link text: Wine's control has no HTML engine here, as Debian ships no Gecko"
      echo "      for Wine, so no link can have the focus; the browsers' parts below show real link texts)"
      said_no_text=1
    fi
    [ "$referrer" = "$page" ] || fail "$url: the referrer is not the page of links"
    if [ "$url" = "$base/files/members.zip" ]; then
      [[ $cookie == *session=* ]] || fail "$url: no session cookie came"
      members_cookie=$cookie
    fi
    show_fetch "$url"
  done < <(tail -n +"$((before + 1))" "$record" | tr -d '\r' | tr '\t' '\037')
  passes=$((passes + 1))
}
fetch_lines() { if [ -f "$fetch_log" ]; then wc -l <"$fetch_log"; else echo 0; fi; }

passes=0
members_cookie=
pass_names=("${site_names[@]}")
pass_links=("${site_links[@]}")
# Windows 7, no UserConfig.ini: the POSTs stay with the control, and the
# form's file is downloaded by it; every other link is handed over.
run_pass "a click's hand-off on a real site (Windows 7, no UserConfig.ini)" \
  signin="L:not asked:no" zip=C members=C referred=C redirect=C named=C form="L:E_NOTIMPL:yes"
echo "  without what the agent was handed, the site refuses:"
status_of() { curl -s -o /dev/null -w '%{http_code}' "$@"; }
code=$(status_of -H "Referer: $page" "$base/files/members.zip")
echo "    $base/files/members.zip without the cookie: HTTP $code"
[ "$code" = 403 ] || fail "members.zip answered $code without the cookie"
code=$(status_of -H "Referer: $page" -H "Cookie: $members_cookie" "$base/files/members.zip")
echo "    $base/files/members.zip with the cookie the agent was handed: HTTP $code"
[ "$code" = 200 ] || fail "members.zip answered $code with the cookie"
code=$(status_of "$base/files/referred.zip")
echo "    $base/files/referred.zip without the referrer: HTTP $code"
[ "$code" = 403 ] || fail "referred.zip answered $code without the referrer"
code=$(status_of "$base/files/export.zip")
echo "    $base/files/export.zip as a GET instead of the form's POST: HTTP $code"
[ "$code" = 405 ] || fail "export.zip answered $code to a GET"

pass_names=("${names[@]}")
pass_links=("${links[@]}")
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

# The extension's test below checks the agent's records alone.
fetched_files=$(grep -c "$(printf '\tdone\t')" "$fetch_log" || true)
wine reg delete 'HKCU\Software\Corvane\ReferenceAgent' /v FetchFolder /f </dev/null >/dev/null 2>&1

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
# difference. A browser that cannot run here is said so and skipped. Its
# cases of a user's clicks: the form's POST kept by the browser; a burst and
# an agent that stalls 7 s, each download held until the agent takes it; an
# agent past the browser's hold, the file kept and the button saying it is in
# two places. The test command runs the rest (a missing host, pages that
# click by script, a stopped worker; a host that never answers in Node).
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
  # --quick shows one download of each ending; the extension's own tests run
  # every case.
  cases=zip,php,pdf,blob,post,declined,redirect,cross,burst,stalled,late
  [ "$quick" -eq 1 ] && cases=zip,pdf
  if node tests/extension/e2e.mjs --browser "$browser" --wine-run "$work/wine-run" --host "$bin/WebCorvaneHost.exe" \
       --agent "$bin/CorvaneAgent.exe" --work "$work/$browser" --cases "$cases" | sed 's/^/  /'; then
    browsers_shown+=("every $name case as expected")
  else
    fail "$name: see the cases above"
    browsers_shown+=("$name cases differ")
  fi
done

echo
echo "== summary ($bits-bit DLL): $passes passes over the page of links, $(ls "$work/downloads" | wc -l) file(s) the host downloaded itself, $fetched_files fetched by the agent, $(IFS=','; echo "${browsers_shown[*]}" | sed 's/,/, /g'), $(($(date +%s) - started)) s"
if [ "$failures" -ne 0 ]; then
  echo "$failures difference(s) from the expected decisions"
  exit 1
fi
echo "every decision as expected"

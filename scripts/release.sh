#!/usr/bin/env bash
# Builds the release archive: both DLLs, a URL explainer and the native
# messaging host with its manifests (Chromium's and Firefox's) beside each, the
# browser extension as a folder (to load unpacked), as a zip for the Chromium
# stores and as Firefox's build for its add-ons site, the settings sample,
# install and uninstall scripts, the user guide and the administrative
# templates of the extension's managed settings; and from the same files
# the two Windows Installer packages (packaging/).
#   bash scripts/release.sh        -> build/release/WebCorvaneBHO-6.0.0.5.zip
#                                     build/release/WebCorvaneBHO-6.0.0.5-x86.msi, -x64.msi
# It prints the archive's path. WEBCORVANE_VERSION sets the version (6.0.0.5),
# WEBCORVANE_RELEASE_DIR the output folder (build/release); the binaries and
# packages are signed when packaging/sign.sh is given a certificate.
# WEBCORVANE_CHROME_STORE_ID and WEBCORVANE_EDGE_STORE_ID, the IDs the stores
# gave the published extension, go to both trees (the hosts' manifests allow
# them, the explainers check them) and to the packages (which offer the
# extension); without them only our own key's ID is allowed, and nothing is
# offered.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh >/dev/null
mkdir -p build
for preset in mingw-i686 mingw-x86_64; do
  # One build of a tree at a time: the tests build the release too.
  flock "build/$preset.lock" cmake --preset "$preset" \
    -DWEBCORVANE_CHROME_STORE_ID="${WEBCORVANE_CHROME_STORE_ID:-}" \
    -DWEBCORVANE_EDGE_STORE_ID="${WEBCORVANE_EDGE_STORE_ID:-}" >/dev/null
  flock "build/$preset.lock" cmake --build --preset "$preset" --target shipped >/dev/null
done

version=${WEBCORVANE_VERSION:-6.0.0.5}
name=WebCorvaneBHO-$version
out=${WEBCORVANE_RELEASE_DIR:-build/release}
rm -rf "$out/$name" "$out/$name.zip"
mkdir -p "$out/$name/x86" "$out/$name/x64"
# Shipped without their debugging information.
i686-w64-mingw32-strip -o "$out/$name/x86/WebCorvaneBHO.dll" build/mingw-i686/shipped/WebCorvaneBHO.dll
x86_64-w64-mingw32-strip -o "$out/$name/x64/WebCorvaneBHO.dll" build/mingw-x86_64/shipped/WebCorvaneBHO.dll
# An explainer beside each DLL: its check sees the installation as the
# browser of its bitness does.
i686-w64-mingw32-strip -o "$out/$name/x86/url_explainer.exe" build/mingw-i686/shipped/tools/url_explainer/url_explainer.exe
x86_64-w64-mingw32-strip -o "$out/$name/x64/url_explainer.exe" build/mingw-x86_64/shipped/tools/url_explainer/url_explainer.exe
# The native messaging host beside each DLL, with its manifest, whose "path"
# names it relative to the manifest's folder.
i686-w64-mingw32-strip -o "$out/$name/x86/WebCorvaneHost.exe" build/mingw-i686/shipped/native_host/WebCorvaneHost.exe
x86_64-w64-mingw32-strip -o "$out/$name/x64/WebCorvaneHost.exe" build/mingw-x86_64/shipped/native_host/WebCorvaneHost.exe
# Firefox refuses Chromium's manifest: its own names the same host.
for manifest in com.webcorvane.handoff.json com.webcorvane.handoff.firefox.json; do
  cp "build/mingw-i686/shipped/native_host/$manifest" "$out/$name/x86/"
  cp "build/mingw-x86_64/shipped/native_host/$manifest" "$out/$name/x64/"
done
find "$out/$name" \( -name '*.dll' -o -name '*.exe' \) -print0 | xargs -0 bash packaging/sign.sh
# The extension at the release's version: a folder to load unpacked, which
# keeps its "key" and so our ID, and a zip for the stores, which refuse a
# "key" (the store's own key gives the item its ID).
python3 scripts/build_extension.py chromium "$out/$name/extension" \
  "$out/$name/WebCorvane-extension-$version.zip" --version "$version"
# Firefox's build of the same source, signed by the add-ons site.
python3 scripts/build_extension.py xpi "$out/$name/WebCorvane-firefox-$version.xpi" --version "$version"
# The administrative templates of the extension's managed settings, under
# each browser's key for the extension's ID: the store's, or our own key's
# when the store's is not given (the extension loaded from the folder).
own_id=$(sed -n 's/.*kChromiumExtensionId\[\] = "\([a-p]*\)".*/\1/p' common/identifiers.h)
mkdir -p "$out/$name/policy/en-US" "$out/$name/policy/zh-CN"
for f in webcorvane.admx en-US/webcorvane.adml zh-CN/webcorvane.adml; do
  sed -e "s/@CHROME_ID@/${WEBCORVANE_CHROME_STORE_ID:-$own_id}/g" \
      -e "s/@EDGE_ID@/${WEBCORVANE_EDGE_STORE_ID:-$own_id}/g" -e 's/\r*$/\r/' \
      "release/policy/$f" >"$out/$name/policy/$f"
done
for f in install.cmd uninstall.cmd USER-GUIDE.txt; do
  # Windows text files: CRLF line ends.
  sed 's/\r*$/\r/' "release/$f" >"$out/$name/$f"
done
# The settings beside each DLL and host: each reads the one in its own folder.
for arch in x86 x64; do
  sed 's/\r*$/\r/' release/UserConfig.ini >"$out/$name/$arch/UserConfig.ini"
done
(cd "$out" && python3 -m zipfile -c "$name.zip" "$name" >/dev/null)
bash packaging/build_packages.sh "$out/$name" "$out" "$version" >&2
echo "$out/$name.zip"

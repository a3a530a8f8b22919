#!/usr/bin/env bash
# Builds the release archive: both DLLs, a URL explainer beside each, the settings
# sample, install and uninstall scripts and the user guide.
#   bash scripts/release.sh        -> build/release/WebCorvaneBHO-6.0.0.5.zip
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh >/dev/null
for preset in mingw-i686 mingw-x86_64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target shipped >/dev/null
done

name=WebCorvaneBHO-6.0.0.5
out=build/release
rm -rf "$out/$name" "$out/$name.zip"
mkdir -p "$out/$name/x86" "$out/$name/x64"
# Shipped without their debugging information.
i686-w64-mingw32-strip -o "$out/$name/x86/WebCorvaneBHO.dll" build/mingw-i686/shipped/WebCorvaneBHO.dll
x86_64-w64-mingw32-strip -o "$out/$name/x64/WebCorvaneBHO.dll" build/mingw-x86_64/shipped/WebCorvaneBHO.dll
# An explainer beside each DLL: its check sees the installation as the
# browser of its bitness does.
i686-w64-mingw32-strip -o "$out/$name/x86/url_explainer.exe" build/mingw-i686/shipped/tools/url_explainer/url_explainer.exe
x86_64-w64-mingw32-strip -o "$out/$name/x64/url_explainer.exe" build/mingw-x86_64/shipped/tools/url_explainer/url_explainer.exe
for f in install.cmd uninstall.cmd UserConfig.ini USER-GUIDE.txt; do
  # Windows text files: CRLF line ends.
  sed 's/\r*$/\r/' "release/$f" >"$out/$name/$f"
done
(cd "$out" && python3 -m zipfile -c "$name.zip" "$name" >/dev/null)
echo "$out/$name.zip"

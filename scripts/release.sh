#!/usr/bin/env bash
# Builds the release archive: both DLLs, a URL explainer beside each, the
# settings sample, install and uninstall scripts and the user guide; and from
# the same files the two Windows Installer packages (packaging/).
#   bash scripts/release.sh        -> build/release/WebCorvaneBHO-6.0.0.5.zip
#                                     build/release/WebCorvaneBHO-6.0.0.5-x86.msi, -x64.msi
# It prints the archive's path. WEBCORVANE_VERSION sets the version (6.0.0.5),
# WEBCORVANE_RELEASE_DIR the output folder (build/release); the binaries and
# packages are signed when packaging/sign.sh is given a certificate.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh >/dev/null
for preset in mingw-i686 mingw-x86_64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target shipped >/dev/null
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
find "$out/$name" \( -name '*.dll' -o -name '*.exe' \) -print0 | xargs -0 bash packaging/sign.sh
for f in install.cmd uninstall.cmd UserConfig.ini USER-GUIDE.txt; do
  # Windows text files: CRLF line ends.
  sed 's/\r*$/\r/' "release/$f" >"$out/$name/$f"
done
(cd "$out" && python3 -m zipfile -c "$name.zip" "$name" >/dev/null)
bash packaging/build_packages.sh "$out/$name" "$out" "$version" >&2
echo "$out/$name.zip"

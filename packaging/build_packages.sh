#!/usr/bin/env bash
# Builds the two Windows Installer packages from a release folder (the layout
# of the release archive: x86/ and x64/ with a DLL each, the explainer, the
# native messaging host with its manifest and the settings; the user guide)
# and signs them with sign.sh:
#   <output folder>/WebCorvaneBHO-<version>-x86.msi   32-bit Windows, the 32-bit host
#   <output folder>/WebCorvaneBHO-<version>-x64.msi   64-bit Windows, both DLLs, the 64-bit host
# It prints the two paths, one a line.
#
# Each package offers the extension to Chrome and Edge when the store IDs the
# release was built with are given (WEBCORVANE_CHROME_STORE_ID,
# WEBCORVANE_EDGE_STORE_ID, as scripts/release.sh gives them): Chrome the
# Chrome Web Store's item, Edge the Edge Add-ons item, or the Chrome Web
# Store's when that is the only one. Without a store ID nothing is offered:
# the browsers fetch an offered item from its store, and our own key's ID is
# in none.
#
# usage: build_packages.sh <release folder> <output folder> <version>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
release=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
version=$3

# Windows Installer reads a product version as major.minor.build[.revision]
# with at most 255, 255 and 65535 in the first three.
if ! [[ $version =~ ^([0-9]+)\.([0-9]+)\.([0-9]+)(\.[0-9]+)?$ ]] ||
  [ "${BASH_REMATCH[1]}" -gt 255 ] || [ "${BASH_REMATCH[2]}" -gt 255 ] ||
  [ "${BASH_REMATCH[3]}" -gt 65535 ]; then
  echo "packages: '$version' is no Windows Installer product version" >&2
  exit 1
fi

chrome_id=${WEBCORVANE_CHROME_STORE_ID:-}
edge_id=${WEBCORVANE_EDGE_STORE_ID:-}
for id in "$chrome_id" "$edge_id"; do
  if [ -n "$id" ] && ! [[ $id =~ ^[a-p]{32}$ ]]; then
    echo "packages: '$id' is no extension ID (32 letters a to p)" >&2
    exit 1
  fi
done
chrome_store=https://clients2.google.com/service/update2/crx
edge_store=https://edge.microsoft.com/extensionwebstorebase/v1/crx
offer=(-D OfferChrome="$([ -n "$chrome_id" ] && echo yes || echo no)" -D ChromeOfferId="$chrome_id")
if [ -n "$edge_id" ]; then
  offer+=(-D OfferEdge=yes -D EdgeOfferId="$edge_id" -D EdgeOfferUrl="$edge_store")
elif [ -n "$chrome_id" ]; then
  offer+=(-D OfferEdge=yes -D EdgeOfferId="$chrome_id" -D EdgeOfferUrl="$chrome_store")
else
  offer+=(-D OfferEdge=no -D EdgeOfferId= -D EdgeOfferUrl=)
fi

# The file version of a PE file from its version resource, or nothing.
file_version() {
  python3 - "$1" <<'EOF'
import struct, sys
data = open(sys.argv[1], "rb").read()
# VS_FIXEDFILEINFO: its signature and structure version, then the version.
at = data.find(struct.pack("<II", 0xFEEF04BD, 0x00010000))
if at >= 0:
    high, low = struct.unpack_from("<II", data, at + 8)
    print(f"{high >> 16}.{high & 0xFFFF}.{low >> 16}.{low & 0xFFFF}")
EOF
}

# Adds to the package's SQL (sql, for msibuild) the version of a PE file.
versioned() {  # File id, path
  local v
  v=$(file_version "$2")
  [ -n "$v" ] || return 0
  # A versioned file is compared by version; wixl records only a hash.
  sql+=(-q "UPDATE \`File\` SET \`Version\` = '$v' WHERE \`File\` = '$1'"
        -q "DELETE FROM \`MsiFileHash\` WHERE \`File_\` = '$1'")
}

for arch in x86 x64; do
  # The upgrade code names the product for good; the product code follows
  # from it and the version, so that a rebuild is the same product.
  if [ $arch = x86 ]; then
    upgrade_code=3F6B2A4E-8C1D-4B7A-A5E2-0D9C6B1F7A31
  else
    upgrade_code=3F6B2A4E-8C1D-4B7A-A5E2-0D9C6B1F7A64
  fi
  product_code=$(python3 -c 'import sys, uuid; print(str(uuid.uuid5(uuid.UUID(sys.argv[1]), sys.argv[2])).upper())' \
    "$upgrade_code" "$version")
  msi=$out/WebCorvaneBHO-$version-$arch.msi
  rm -f "$msi"
  # wixl takes the files' paths relative to the folder it runs in.
  (cd "$release" && wixl -a "$arch" -o "$msi" \
    -D Arch="$arch" -D Version="$version" -D ProductCode="$product_code" \
    -D ActiveSetupVersion="${version//./,}" -D Win64="$([ $arch = x64 ] && echo yes || echo no)" \
    -D UpgradeCode="$upgrade_code" "${offer[@]}" "$here/webcorvane.wxs")

  # What wixl cannot say: each DLL registers itself (SelfReg; the standard
  # actions call its DllRegisterServer and DllUnregisterServer); the settings
  # are never overwritten once present (NeverOverwrite, 0x80; 0x100 marks a
  # 64-bit component); the upgrade's maximum version is included (0x200,
  # beside the minimum's 0x100; the attributes are part of the row's key, so
  # the row is written anew); the offer only while OFFER_EXTENSION is 1, a
  # component condition.
  sql=(-q "CREATE TABLE \`SelfReg\` (\`File_\` CHAR(72) NOT NULL, \`Cost\` INT PRIMARY KEY \`File_\`)"
       -q "INSERT INTO \`SelfReg\` (\`File_\`, \`Cost\`) VALUES ('Dll32', 0)"
       -q "UPDATE \`Component\` SET \`Attributes\` = 128 WHERE \`Component\` = 'Config32'"
       -q "DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'WEBCORVANE_OLDER'"
       -q "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMin\`, \`VersionMax\`, \`Attributes\`, \`ActionProperty\`) VALUES ('{$upgrade_code}', '0.0.0', '$version', 768, 'WEBCORVANE_OLDER')"
       -q "UPDATE \`Component\` SET \`Condition\` = 'OFFER_EXTENSION = \"1\"' WHERE \`Component\` = 'OfferChrome' OR \`Component\` = 'OfferEdge'")
  versioned Dll32 "$release/x86/WebCorvaneBHO.dll"
  versioned Explainer32 "$release/x86/url_explainer.exe"
  if [ $arch = x86 ]; then
    versioned Host32 "$release/x86/WebCorvaneHost.exe"
  else
    sql+=(-q "INSERT INTO \`SelfReg\` (\`File_\`, \`Cost\`) VALUES ('Dll64', 0)"
          -q "UPDATE \`Component\` SET \`Attributes\` = 384 WHERE \`Component\` = 'Config64'")
    versioned Dll64 "$release/x64/WebCorvaneBHO.dll"
    versioned Explainer64 "$release/x64/url_explainer.exe"
    versioned Host64 "$release/x64/WebCorvaneHost.exe"
  fi
  msibuild "$msi" "${sql[@]}"

  bash "$here/sign.sh" "$msi"
  echo "$msi"
done

#!/usr/bin/env python3
"""Builds the extension for Firefox from the one source in extension/.

    python3 scripts/firefox_extension.py xpi OUT.xpi [--version VERSION]

The source manifest is Chromium's. Firefox's differs in what this changes:
the background runs as scripts, not a service worker; the ID is fixed by
browser_specific_settings, not by a "key" (which Firefox refuses); and
downloads are held on the response's headers, through blocking webRequest
(Chromium's build reads requests without blocking them), since Firefox has
no downloads.onDeterminingFilename. The archive is the one
the add-ons site takes and the one a test profile loads.
"""
import argparse
import json
import os
import re
import sys
import zipfile

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
SOURCE = os.path.join(ROOT, "extension")
# Firefox ESR 128 is the oldest with everything used here (MV3 background
# scripts as modules, storage.session, blocking webRequest answered later).
MIN_VERSION = "128.0"


def gecko_id():
    with open(os.path.join(ROOT, "common", "identifiers.h"), encoding="utf-8") as f:
        found = re.search(r'kFirefoxExtensionId\[\] = "([^"]+)"', f.read())
    if not found:
        sys.exit("common/identifiers.h: the Firefox extension's ID not found")
    return found.group(1)


def firefox_manifest(manifest, version=None):
    manifest = dict(manifest)
    for chromium_only in ("key", "minimum_chrome_version"):
        manifest.pop(chromium_only, None)
    background = manifest["background"]
    manifest["background"] = {"scripts": [background["service_worker"]], "type": background.get("type", "classic")}
    manifest["permissions"] = manifest["permissions"] + [
        p for p in ("webRequest", "webRequestBlocking") if p not in manifest["permissions"]]
    manifest["browser_specific_settings"] = {"gecko": {"id": gecko_id(), "strict_min_version": MIN_VERSION}}
    if version is not None:
        manifest["version"] = version
    return manifest


def xpi(out, version):
    with open(os.path.join(SOURCE, "manifest.json"), encoding="utf-8") as f:
        manifest = firefox_manifest(json.load(f), version)
    files = sorted(f for f in os.listdir(SOURCE)
                   if not f.startswith(".") and f != "manifest.json" and os.path.isfile(os.path.join(SOURCE, f)))
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("manifest.json", json.dumps(manifest, indent=2, ensure_ascii=False) + "\n")
        for name in files:
            z.write(os.path.join(SOURCE, name), name)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest="command", required=True)
    archive = commands.add_parser("xpi")
    archive.add_argument("out")
    archive.add_argument("--version")
    args = parser.parse_args()
    xpi(args.out, args.version)


if __name__ == "__main__":
    main()

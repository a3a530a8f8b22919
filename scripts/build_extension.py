#!/usr/bin/env python3
"""Builds the browser extension's release forms from the one source in extension/.

    python3 scripts/build_extension.py xpi OUT.xpi [--version VERSION]
    python3 scripts/build_extension.py chromium FOLDER STORE.zip [--version VERSION]
    python3 scripts/build_extension.py test chromium|firefox FOLDER|OUT.xpi

The source manifest is Chromium's. "chromium" writes a folder to load
unpacked, which keeps the manifest's "key" and so our ID, and a zip for the
stores, which refuse a "key" (the store's own key gives the item its ID).
Firefox's build differs in what firefox_manifest changes: the background runs
as scripts, not a service worker; the ID is fixed by browser_specific_settings,
not by a "key" (which Firefox refuses); and downloads are held on the
response's headers, through blocking webRequest, since Firefox has no
downloads.onDeterminingFilename. Its archive is the one the add-ons site takes.

"test" builds what the end-to-end tests load: Chromium's folder or Firefox's
archive, whose worker is tests/extension/test_background.js, the extension's
own with the hooks the tests call. Nothing of it ships.
"""
import argparse
import json
import os
import re
import sys
import zipfile

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
SOURCE = os.path.join(ROOT, "extension")
TEST_WORKER = os.path.join(ROOT, "tests", "extension", "test_background.js")
# Firefox ESR 128 is the oldest with everything used here (MV3 background
# scripts as modules, storage.session, blocking webRequest answered later).
MIN_VERSION = "128.0"


def gecko_id():
    with open(os.path.join(ROOT, "common", "identifiers.h"), encoding="utf-8") as f:
        found = re.search(r'kFirefoxExtensionId\[\] = "([^"]+)"', f.read())
    if not found:
        sys.exit("common/identifiers.h: the Firefox extension's ID not found")
    return found.group(1)


def source_files():
    """Every file of the extension but its manifest, as paths relative to
    the source folder with forward slashes (the _locales folder included)."""
    found = []
    for folder, dirs, files in os.walk(SOURCE):
        dirs[:] = sorted(d for d in dirs if not d.startswith("."))
        for name in sorted(files):
            path = os.path.relpath(os.path.join(folder, name), SOURCE).replace(os.sep, "/")
            if not name.startswith(".") and path != "manifest.json":
                found.append(path)
    return found


def source_manifest(version):
    with open(os.path.join(SOURCE, "manifest.json"), encoding="utf-8") as f:
        manifest = json.load(f)
    if version is not None:
        manifest["version"] = version
    return manifest


def manifest_text(manifest):
    return json.dumps(manifest, indent=2, ensure_ascii=False) + "\n"


def firefox_manifest(manifest):
    manifest = dict(manifest)
    for chromium_only in ("key", "minimum_chrome_version"):
        manifest.pop(chromium_only, None)
    background = manifest["background"]
    manifest["background"] = {"scripts": [background["service_worker"]], "type": background.get("type", "classic")}
    manifest["permissions"] = manifest["permissions"] + [
        p for p in ("webRequest", "webRequestBlocking") if p not in manifest["permissions"]]
    manifest["browser_specific_settings"] = {"gecko": {"id": gecko_id(), "strict_min_version": MIN_VERSION}}
    return manifest


def write_archive(out, manifest, extra=()):
    """`extra`: (file, path in the archive) pairs besides the source's."""
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("manifest.json", manifest_text(manifest))
        for path in source_files():
            z.write(os.path.join(SOURCE, path), path)
        for file, path in extra:
            z.write(file, path)


def xpi(out, version):
    write_archive(out, firefox_manifest(source_manifest(version)))


def write_folder(folder, manifest, extra=()):
    files = [(os.path.join(SOURCE, path), path) for path in source_files()] + list(extra)
    for file, path in files:
        target = os.path.join(folder, path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(file, "rb") as f, open(target, "wb") as out:
            out.write(f.read())
    with open(os.path.join(folder, "manifest.json"), "w", encoding="utf-8", newline="\n") as f:
        f.write(manifest_text(manifest))


def chromium(folder, store, version):
    manifest = source_manifest(version)
    write_folder(folder, manifest)
    store_manifest = dict(manifest)
    store_manifest.pop("key", None)
    write_archive(store, store_manifest)


def test_build(browser, out):
    worker = os.path.basename(TEST_WORKER)
    manifest = source_manifest(None)
    manifest["background"] = dict(manifest["background"], service_worker=worker)
    extra = [(TEST_WORKER, worker)]
    if browser == "chromium":
        write_folder(out, manifest, extra)
    else:
        write_archive(out, firefox_manifest(manifest), extra)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest="command", required=True)
    archive = commands.add_parser("xpi")
    archive.add_argument("out")
    archive.add_argument("--version")
    unpacked = commands.add_parser("chromium")
    unpacked.add_argument("folder")
    unpacked.add_argument("store")
    unpacked.add_argument("--version")
    test = commands.add_parser("test")
    test.add_argument("browser", choices=["chromium", "firefox"])
    test.add_argument("out")
    args = parser.parse_args()
    if args.command == "xpi":
        xpi(args.out, args.version)
    elif args.command == "test":
        test_build(args.browser, args.out)
    else:
        chromium(args.folder, args.store, args.version)


if __name__ == "__main__":
    main()

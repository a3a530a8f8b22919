#!/usr/bin/env python3
"""Builds the browser extension's release forms from the one source in extension/.

    python3 scripts/build_extension.py xpi OUT.xpi [--version VERSION]
    python3 scripts/build_extension.py chromium FOLDER [STORE.zip] [--version VERSION]
    python3 scripts/build_extension.py test chromium|firefox FOLDER|OUT.xpi [--key KEY] [--gecko-id ID]

The source manifest is Chromium's. "chromium" writes a folder to load
unpacked, which keeps the manifest's "key" and so our ID, and a zip for the
stores, which refuse a "key" (the store's own key gives the item its ID).
Firefox's build differs in what firefox_manifest changes: the background runs
as scripts, not a service worker; the ID is fixed by browser_specific_settings,
not by a "key" (which Firefox refuses); and downloads are held on the
response's headers, through blocking webRequest, since Firefox has no
downloads.onDeterminingFilename. Its archive is the one the add-ons site takes.
Every build carries the icons, rendered from the one drawing in
extension/icons (the source folder has none, and loads unpacked without them).

"test" builds what the end-to-end tests load: Chromium's folder or Firefox's
archive, whose worker is tests/extension/test_background.js, the extension's
own with the hooks the tests call. Nothing of it ships. --key (Chromium's
manifest key) and --gecko-id give it another ID than ours, for a test whose
machine-wide policy must reach no other copy of the extension.
"""
import argparse
import json
import os
import re
import subprocess
import sys
import zipfile

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
SOURCE = os.path.join(ROOT, "extension")
TEST_WORKER = os.path.join(ROOT, "tests", "extension", "test_background.js")
# Firefox 140 is the oldest that reads data_collection_permissions (and ESR
# 128 the oldest with everything else used here: MV3 background scripts as
# modules, storage.session, blocking webRequest answered later).
MIN_VERSION = "140.0"
# What the extension hands to a program outside the browser, which Mozilla's
# policy counts as transmitted even to a program on the same machine: the
# download's URL and referring page (browsingActivity), the link's text and
# the request's Cookie and Referer headers (websiteContent), and in the
# cookie a site's sign-in (authenticationInfo). Without them nothing can be
# handed over, so all are required. docs/privacy.md says the same.
DATA_COLLECTION = {"required": ["authenticationInfo", "browsingActivity", "websiteContent"]}
# Firefox for Android reads that key from 142. The add-on is listed for the
# desktop only (Android has no native messaging), but the manifest still
# names the version, as Mozilla's linter asks.
MIN_ANDROID_VERSION = "142.0"

# The icons, rendered from one drawing by librsvg's rsvg-convert, whose root
# class names the state: the extension's own at every size the browsers and
# the stores use, the toolbar's paused and problem states at the toolbar's.
# background.js names them as icons/<state>-<size>.png.
ICON_SOURCE = "icons/webcorvane.svg"
ICON_SIZES = (16, 32, 48, 128)
TOOLBAR_SIZES = (16, 32)
ICON_STATES = ("normal", "paused", "problem")
# The stores' 128 px icon is 96 px of drawing with a transparent margin.
STORE_ICON_MARGIN = 16


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
            if not name.startswith(".") and path not in ("manifest.json", ICON_SOURCE):
                found.append(path)
    return found


def icon_path(state, size):
    return f"icons/{state}-{size}.png"


def render_icons():
    """{path in the package: PNG bytes} of every icon, from the drawing."""
    with open(os.path.join(SOURCE, ICON_SOURCE), encoding="utf-8") as f:
        drawing = f.read()
    if 'class="normal"' not in drawing:
        sys.exit(f"extension/{ICON_SOURCE}: its root has no class=\"normal\" to pick the state by")
    icons = {}
    for state in ICON_STATES:
        variant = drawing.replace('class="normal"', f'class="{state}"', 1).encode("utf-8")
        for size in ICON_SIZES if state == "normal" else TOOLBAR_SIZES:
            margin = STORE_ICON_MARGIN if size == 128 else 0
            command = ["rsvg-convert", "--width", str(size - 2 * margin), "--height", str(size - 2 * margin),
                       "--page-width", str(size), "--page-height", str(size),
                       "--left", str(margin), "--top", str(margin)]
            try:
                icons[icon_path(state, size)] = subprocess.run(command, input=variant, check=True,
                                                               capture_output=True).stdout
            except FileNotFoundError:
                sys.exit("rsvg-convert not found: the icons need Debian's librsvg2-bin (scripts/setup.sh)")
            except subprocess.CalledProcessError as failed:
                sys.exit(f"rsvg-convert failed on the {state} icon: {failed.stderr.decode(errors='replace')}")
    return icons


def with_icons(manifest):
    manifest = dict(manifest)
    manifest["icons"] = {str(size): icon_path("normal", size) for size in ICON_SIZES}
    manifest["action"] = dict(manifest["action"],
                              default_icon={str(size): icon_path("normal", size) for size in TOOLBAR_SIZES})
    return manifest


def source_manifest(version):
    with open(os.path.join(SOURCE, "manifest.json"), encoding="utf-8") as f:
        manifest = json.load(f)
    if version is not None:
        manifest["version"] = version
    return with_icons(manifest)


def manifest_text(manifest):
    return json.dumps(manifest, indent=2, ensure_ascii=False) + "\n"


def firefox_manifest(manifest, extension_id=None):
    manifest = dict(manifest)
    for chromium_only in ("key", "minimum_chrome_version"):
        manifest.pop(chromium_only, None)
    background = manifest["background"]
    manifest["background"] = {"scripts": [background["service_worker"]], "type": background.get("type", "classic")}
    manifest["permissions"] = manifest["permissions"] + [
        p for p in ("webRequest", "webRequestBlocking") if p not in manifest["permissions"]]
    manifest["browser_specific_settings"] = {"gecko": {"id": extension_id or gecko_id(), "strict_min_version": MIN_VERSION,
                                                       "data_collection_permissions": DATA_COLLECTION},
                                             "gecko_android": {"strict_min_version": MIN_ANDROID_VERSION}}
    return manifest


def write_archive(out, manifest, extra):
    """`extra`: {path in the archive: bytes} besides the source's files."""
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("manifest.json", manifest_text(manifest))
        for path in source_files():
            z.write(os.path.join(SOURCE, path), path)
        for path, data in extra.items():
            z.writestr(path, data)


def xpi(out, version):
    write_archive(out, firefox_manifest(source_manifest(version)), render_icons())


def write_folder(folder, manifest, extra):
    files = {path: None for path in source_files()} | extra
    for path, data in files.items():
        target = os.path.join(folder, path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        if data is None:
            with open(os.path.join(SOURCE, path), "rb") as f:
                data = f.read()
        with open(target, "wb") as out:
            out.write(data)
    with open(os.path.join(folder, "manifest.json"), "w", encoding="utf-8", newline="\n") as f:
        f.write(manifest_text(manifest))


def chromium(folder, store, version):
    manifest = source_manifest(version)
    icons = render_icons()
    write_folder(folder, manifest, icons)
    if store is not None:
        store_manifest = dict(manifest)
        store_manifest.pop("key", None)
        write_archive(store, store_manifest, icons)


def test_build(browser, out, key=None, extension_id=None):
    worker = os.path.basename(TEST_WORKER)
    manifest = source_manifest(None)
    if key is not None:
        manifest["key"] = key
    manifest["background"] = dict(manifest["background"], service_worker=worker)
    with open(TEST_WORKER, "rb") as f:
        extra = render_icons() | {worker: f.read()}
    if browser == "chromium":
        write_folder(out, manifest, extra)
    else:
        write_archive(out, firefox_manifest(manifest, extension_id), extra)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest="command", required=True)
    archive = commands.add_parser("xpi")
    archive.add_argument("out")
    archive.add_argument("--version")
    unpacked = commands.add_parser("chromium")
    unpacked.add_argument("folder")
    unpacked.add_argument("store", nargs="?", help="the stores' zip, when wanted")
    unpacked.add_argument("--version")
    test = commands.add_parser("test")
    test.add_argument("browser", choices=["chromium", "firefox"])
    test.add_argument("out")
    test.add_argument("--key")
    test.add_argument("--gecko-id")
    args = parser.parse_args()
    if args.command == "xpi":
        xpi(args.out, args.version)
    elif args.command == "test":
        test_build(args.browser, args.out, args.key, args.gecko_id)
    else:
        chromium(args.folder, args.store, args.version)


if __name__ == "__main__":
    main()

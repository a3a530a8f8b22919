#!/usr/bin/env python3
"""Checks the Chromium package against the Chrome Web Store's and Edge Add-ons' rules.

    python3 scripts/check_store_package.py STORE.zip|FOLDER

The rules the stores publish and enforce on upload or in review, which a
build can break without any browser noticing:
  - every icon the manifest declares is a PNG of the size it is declared at,
    and there is a 128 px one (the stores' listing);
  - the name is at most 75 characters and the description at most 132, in
    every locale, once __MSG_name__ is replaced by the locale's message (the
    default locale's where it has none);
  - every permission is used by the code (a permission without a use is a
    reason to refuse, and the review asks for each one's reason);
  - no remote code: no script from http(s), no eval, no new Function, and no
    content security policy that would let either in;
  - each keyboard command's suggested keys are ones Chromium accepts (Ctrl or
    Alt, perhaps Shift, and one key; at most four commands suggest keys) and
    none the browsers keep for themselves, which would leave it unassigned.
Prints one line per broken rule and exits 1, or one line saying what passed.
"""
import json
import os
import re
import struct
import sys
import zipfile

MAX_NAME = 75
MAX_DESCRIPTION = 132
STORE_ICON = "128"

# How the code uses each permission the extension may ask for. A permission
# not listed here fails until its use is named.
USES = {
    "contextMenus": r"\.contextMenus\.",
    "cookies": r"\.cookies\.",
    "downloads": r"\.downloads\.",
    "nativeMessaging": r"\.runtime\.(connectNative|sendNativeMessage)\b",
    "storage": r"\.storage\.",
    "webRequest": r"\.webRequest\.",
}
# All-site access serves the APIs that read a site's requests and cookies.
HOST_USES = r"\.(cookies|webRequest)\."

# A suggested key as Chromium's manifest parser takes it: Ctrl or Alt (on a
# Mac also Command or MacCtrl), optionally Shift, then one key.
MODIFIERS = {"Ctrl", "Alt", "Shift", "Command", "MacCtrl"}
KEYS = re.compile(r"[A-Z0-9]|Comma|Period|Home|End|PageUp|PageDown|Space|Insert|Delete|Up|Down|Left|Right|"
                  r"MediaNextTrack|MediaPlayPause|MediaPrevTrack|MediaStop")
MAX_SUGGESTED = 4
# Shortcuts the browsers use themselves (Chrome and Edge on Windows and
# Linux, ChromeOS, Firefox), which an extension's suggestion cannot have.
TAKEN = {f"{mods}+{key}" for mods, keys in (
    ("Ctrl+Shift", "ABCDEGHIJKMNOPQRTWY"),  # tab search, bookmarks, devtools, private window...
    ("Alt+Shift", "AIMNPSTW"),  # focus dialogs, feedback, ChromeOS' tray, files and windows
    ("Ctrl", "ABCDEFGHIJKLNOPQRSTUVWXYZ0123456789"),  # editing, tabs, find, print...
    ("Alt", "BDEFHSTV"),  # the address bar, the menus (Firefox's menu bar)
) for key in keys}

REMOTE_CODE = [
    (re.compile(r"\beval\s*\("), "eval"),
    (re.compile(r"\bnew\s+Function\s*\("), "new Function"),
    (re.compile(r"\bimportScripts\s*\(\s*['\"`](https?:)?//"), "a script imported from the network"),
    (re.compile(r"\bimport\s*(\(\s*)?['\"`](https?:)?//"), "a module imported from the network"),
]
REMOTE_SCRIPT = re.compile(r"<script\b[^>]*\bsrc\s*=\s*['\"]?\s*(https?:)?//", re.I)


class Package:
    """A folder or a zip, read as {path: bytes} with forward slashes."""

    def __init__(self, where):
        self.files = {}
        if os.path.isdir(where):
            for folder, _, names in os.walk(where):
                for name in names:
                    path = os.path.join(folder, name)
                    with open(path, "rb") as f:
                        self.files[os.path.relpath(path, where).replace(os.sep, "/")] = f.read()
        else:
            with zipfile.ZipFile(where) as z:
                self.files = {name: z.read(name) for name in z.namelist() if not name.endswith("/")}

    def json(self, path):
        return json.loads(self.files[path].decode("utf-8"))

    def texts(self, suffix):
        return {p: data.decode("utf-8", errors="replace") for p, data in self.files.items() if p.endswith(suffix)}


def png_size(data):
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", data[16:24])


def check_icons(package, manifest):
    wrong = []
    declared = [("icons", manifest.get("icons", {}))]
    action = manifest.get("action", {}).get("default_icon", {})
    declared.append(("action.default_icon", {"": action} if isinstance(action, str) else action))
    if STORE_ICON not in manifest.get("icons", {}):
        wrong.append(f"icons: no {STORE_ICON} px icon, which the stores' listing needs")
    for key, icons in declared:
        for size, path in icons.items():
            data = package.files.get(path.lstrip("/"))
            if data is None:
                wrong.append(f"{key}: {path} is not in the package")
            elif png_size(data) is None:
                wrong.append(f"{key}: {path} is not a PNG")
            elif size and png_size(data) != (int(size), int(size)):
                wrong.append(f"{key}: {path} is {'x'.join(map(str, png_size(data)))}, declared as {size}")
    return wrong


def check_words(package, manifest):
    locales = sorted({p.split("/")[1] for p in package.files if re.fullmatch(r"_locales/[^/]+/messages\.json", p)})
    default = manifest.get("default_locale")
    if locales and default not in locales:
        return [f"default_locale {default!r} has no _locales/{default}/messages.json"]
    catalogs = {locale: {k.lower(): v["message"] for k, v in package.json(f"_locales/{locale}/messages.json").items()}
                for locale in locales}

    def worded(text, locale):
        def message(found):
            key = found.group(1).lower()
            return catalogs[locale].get(key, catalogs[default].get(key, found.group(0)))
        return re.sub(r"__MSG_(\w+)__", message, text)

    wrong = []
    for field, limit in (("name", MAX_NAME), ("description", MAX_DESCRIPTION)):
        for locale in locales or [None]:
            text = worded(manifest.get(field, ""), locale) if locale else manifest.get(field, "")
            if "__MSG_" in text:
                wrong.append(f"{field} in {locale}: {text} is not in the catalog")
            elif len(text) > limit:
                wrong.append(f"{field} in {locale}: {len(text)} characters, more than {limit}: {text}")
    return wrong


def check_permissions(package, manifest):
    code = "\n".join(package.texts(".js").values())
    wrong = []
    for permission in manifest.get("permissions", []) + manifest.get("optional_permissions", []):
        use = USES.get(permission)
        if use is None:
            wrong.append(f"permissions: {permission} has no known use (name it in this check with its reason)")
        elif not re.search(use, code):
            wrong.append(f"permissions: {permission} is never used by the code")
    hosts = manifest.get("host_permissions", []) + manifest.get("optional_host_permissions", [])
    if hosts and not re.search(HOST_USES, code):
        wrong.append(f"host_permissions: {', '.join(hosts)} serve no API that reads a site's requests or cookies")
    return wrong


def check_remote_code(package, manifest):
    wrong = []
    for path, text in sorted(package.texts(".js").items()):
        for pattern, what in REMOTE_CODE:
            for found in pattern.finditer(text):
                wrong.append(f"{path}:{text.count(chr(10), 0, found.start()) + 1}: {what}")
    for path, text in sorted(package.texts(".html").items()):
        for found in REMOTE_SCRIPT.finditer(text):
            wrong.append(f"{path}:{text.count(chr(10), 0, found.start()) + 1}: a script from the network")
    policy = manifest.get("content_security_policy", {})
    for page, rule in (policy.items() if isinstance(policy, dict) else [("extension_pages", policy)]):
        if re.search(r"unsafe-eval|https?:|\*", rule):
            wrong.append(f"content_security_policy.{page} lets remote or evaluated code in: {rule}")
    return wrong


def check_commands(package, manifest):
    commands = manifest.get("commands", {})
    wrong = []
    suggesting = [name for name, command in commands.items() if command.get("suggested_key")]
    if len(suggesting) > MAX_SUGGESTED:
        wrong.append(f"commands: {len(suggesting)} suggest keys, Chromium takes at most {MAX_SUGGESTED}")
    for name, command in commands.items():
        for platform, keys in command.get("suggested_key", {}).items():
            *modifiers, key = keys.split("+")
            usable = (set(modifiers) <= MODIFIERS and len(set(modifiers)) == len(modifiers) and
                      set(modifiers) & {"Ctrl", "Alt", "Command", "MacCtrl"} and KEYS.fullmatch(key))
            if not usable:
                wrong.append(f"commands.{name}: {platform} key {keys!r} is not one Chromium accepts")
            elif keys in TAKEN:
                wrong.append(f"commands.{name}: {platform} key {keys} is the browser's own")
        if name not in ("_execute_action", "_execute_browser_action") and not command.get("description"):
            wrong.append(f"commands.{name}: no description, which the browser's list of shortcuts shows")
    return wrong


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    package = Package(sys.argv[1])
    if "manifest.json" not in package.files:
        sys.exit(f"{sys.argv[1]}: no manifest.json at its root")
    manifest = package.json("manifest.json")
    wrong = []
    for check in (check_icons, check_words, check_permissions, check_remote_code, check_commands):
        wrong += check(package, manifest)
    for line in wrong:
        print(f"store rule broken: {line}")
    if wrong:
        sys.exit(1)
    icons = len(manifest["icons"]) + len(manifest.get("action", {}).get("default_icon", {}))
    locales = sum(1 for p in package.files if p.endswith("/messages.json"))
    print(f"store rules: {icons} icons at their sizes, name and description within {MAX_NAME} and "
          f"{MAX_DESCRIPTION} characters in {locales} locales, {len(manifest.get('permissions', []))} permissions "
          f"each used, no remote code, {len(manifest.get('commands', {}))} commands' keys usable")


if __name__ == "__main__":
    main()

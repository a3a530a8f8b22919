#!/usr/bin/env python3
"""Fails unless each shipped binary loads on the oldest Windows it claims.

For every binary: it imports only system DLLs; every function it imports
exists on that Windows; its PE header asks for no newer system. For the DLL
(--dll) also: it exports the four entry points by their plain names and names
itself VantorBHO.DLL in its export directory.

Wine exports every function whatever version it reports, so only the import
table tells. An imported function counts as present when a reference to it
compiles against the MinGW-w64 platform headers with _WIN32_WINNT at the
oldest version, and _WIN32_IE at the shell that version carries: their
version guards hide what came later. Two reviewed lists
fill the headers' gaps.

usage: check_pe.py --objdump OBJDUMP --cc CC --oldest 0x0501|0x0502 --oldest-shell 0x0603|0x0602
                   [--dll FILE] [FILE...]
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile

SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "advapi32.dll", "ole32.dll", "oleaut32.dll", "shlwapi.dll",
    "wininet.dll", "msvcrt.dll", "shell32.dll", "gdi32.dll", "version.dll", "urlmon.dll",
}
EXPORTS = {"DllCanUnloadNow", "DllGetClassObject", "DllInstall", "DllRegisterServer",
           "DllUnregisterServer"}

# The headers that declare what those DLLs export.
HEADERS = [
    "windows.h", "objbase.h", "oleauto.h", "shlwapi.h", "shellapi.h", "wininet.h", "urlmon.h",
    "excpt.h", "stdio.h", "stdlib.h", "string.h", "wchar.h", "locale.h", "signal.h", "setjmp.h",
    "process.h", "io.h", "errno.h", "time.h", "ctype.h", "math.h", "malloc.h", "float.h",
    "sys/types.h", "sys/stat.h",
]

# Start-up and locking internals of msvcrt.dll that no public header declares;
# msvcrt.dll of Windows XP and of Server 2003 exports every one of them.
UNDECLARED_BUT_PRESENT = {
    "__dllonexit", "__getmainargs", "__initenv", "__iob_func", "__lconv_init", "__p__commode",
    "__p__fmode",
    "__set_app_type", "_amsg_exit", "_commode", "_initterm", "_lock", "_unlock",
}

# Declared without a version guard, but newer than the system named.
NEWER_THAN = {
    # Windows Server 2003 and XP x64 have these; 32-bit XP SP3 does not.
    0x0501: {
        "AddVectoredContinueHandler", "FindFirstStreamW", "FindNextStreamW",
        "GetCurrentProcessorNumber", "GetLargePageMinimum", "GetProcessIdOfThread", "GetThreadId",
        "InterlockedCompareExchange64", "ReOpenFile", "SetThreadStackGuarantee",
        "Wow64DisableWow64FsRedirection", "Wow64RevertWow64FsRedirection",
    },
    # 32-bit XP SP3 has this one; Server 2003 and XP x64 do not.
    0x0502: {"GetSystemDEPPolicy"},
    # Neither has these (Windows Vista and later, and msvcrt.dll from Vista on).
    "both": {
        "GetDateFormatEx", "GetTimeFormatEx", "GetSystemTimePreciseAsFileTime",
        "GetThreadErrorMode", "SetThreadErrorMode", "RaiseFailFastException",
        "strnlen", "wcsnlen", "_get_errno", "_set_errno", "_create_locale", "_free_locale",
        "_fseeki64", "_ftelli64", "_gmtime32", "_localtime32", "_mktime32", "_time32",
        "_set_invalid_parameter_handler", "memcpy_s", "memmove_s", "strcpy_s", "strcat_s",
        "strncpy_s", "sprintf_s", "vsprintf_s", "_snprintf_s", "_vsnprintf_s", "fopen_s",
        "_wfopen_s", "_gmtime64_s", "_localtime64_s", "_itoa_s", "_ultoa_s", "wcscpy_s",
        "wcscat_s", "strerror_s", "_controlfp_s", "qsort_s",
    },
}

# The most a PE header may ask for: Windows XP (5.1) or Server 2003 (5.2).
MAX_SYSTEM_VERSION = {0x0501: (5, 1), 0x0502: (5, 2)}


def imports_of(text):
    """(dll, function) pairs of the import tables; function None for an ordinal."""
    pairs = []
    dll = None
    for line in text.splitlines():
        named = re.match(r"^\s*DLL Name: (\S+)", line)
        if named:
            dll = named.group(1).lower()
        elif re.match(r"^(There is an export table|The Export Tables)", line):
            dll = None
        elif dll and re.match(r"^\s+[0-9a-fA-F]+\s+<none>", line):
            pairs.append((dll, None))
        elif dll:
            entry = re.match(r"^\s+[0-9a-fA-F]+\s+\d+\s+(\S+)\s*$", line)
            if entry:
                pairs.append((dll, entry.group(1)))
    return pairs


def undeclared(cc, oldest, shell, names):
    """The names that no header declares at _WIN32_WINNT `oldest` and _WIN32_IE `shell`."""
    source = "".join(f"#include <{h}>\n" for h in HEADERS)
    source += "void refer(void) {\n    volatile const void *p;\n"
    source += "".join(f"    p = (const void *)&{n};\n" for n in sorted(names))
    source += "    (void)p;\n}\n"
    with tempfile.TemporaryDirectory() as scratch:
        path = os.path.join(scratch, "imports.c")
        with open(path, "w") as f:
            f.write(source)
        version = f"0x{oldest:04x}"
        result = subprocess.run(
            [cc, "-fsyntax-only", "-fmax-errors=0", f"-D_WIN32_WINNT={version}",
             f"-DWINVER={version}", f"-D_WIN32_IE=0x{shell:04x}", "-DWIN32_LEAN_AND_MEAN", path],
            capture_output=True, text=True, env=dict(os.environ, LC_ALL="C"))
    # A data symbol that a header defines as a macro is declared all the same:
    # only "undeclared" means hidden by a guard or never declared.
    return set(re.findall(r"'([A-Za-z_][A-Za-z0-9_]*)' undeclared", result.stderr))


def system_version(text, field):
    major = re.search(rf"^Major{field}Version\s+(\d+)", text, re.M)
    minor = re.search(rf"^Minor{field}Version\s+(\d+)", text, re.M)
    return (int(major.group(1)), int(minor.group(1))) if major and minor else None


def check(path, args, is_dll):
    text = subprocess.run([args.objdump, "-p", path], check=True, capture_output=True,
                          text=True).stdout
    failures = []
    pairs = imports_of(text)
    dlls = {dll for dll, _ in pairs}
    for name in sorted(dlls - SYSTEM_DLLS):
        failures.append(f"imports a non-system DLL: {name}")
    for dll in sorted({dll for dll, fn in pairs if fn is None}):
        failures.append(f"imports from {dll} by ordinal, which cannot be checked")

    functions = {fn for _, fn in pairs if fn is not None}
    newer = NEWER_THAN[args.oldest] | NEWER_THAN["both"]
    missing = (undeclared(args.cc, args.oldest, args.oldest_shell, functions) - UNDECLARED_BUT_PRESENT)
    missing |= functions & newer
    for dll, fn in sorted(pairs, key=lambda p: (p[0], p[1] or "")):
        if fn in missing:
            failures.append(f"imports {fn} from {dll}, which Windows {args.oldest:#06x} lacks")

    limit = MAX_SYSTEM_VERSION[args.oldest]
    for field, label in (("OSystem", "operating-system"), ("Subsystem", "subsystem")):
        version = system_version(text, field)
        if version is None or version > limit:
            failures.append(f"asks for {label} version {version}, above {limit[0]}.{limit[1]}")

    if is_dll:
        module_name = re.search(r"^Name\s+[0-9a-fA-F]+\s+(\S+)", text, re.M)
        if not module_name or module_name.group(1) != "VantorBHO.DLL":
            found = module_name.group(1) if module_name else None
            failures.append(f"export directory name is {found}")
        table = text.split("[Ordinal/Name Pointer] Table", 1)
        exported = set(re.findall(r"\]\s+(\S+)\s*$", table[1], re.M)) if len(table) == 2 else set()
        for name in sorted(EXPORTS - exported):
            failures.append(f"does not export {name} by its plain name")

    for f in failures:
        print(f"{path}: {f}")
    if not failures:
        print(f"{path}: {len(functions)} imports from {', '.join(sorted(dlls))}, "
              f"all on Windows {args.oldest:#06x}")
    return not failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--cc", required=True)
    parser.add_argument("--oldest", required=True, type=lambda v: int(v, 0),
                        choices=sorted(MAX_SYSTEM_VERSION))
    parser.add_argument("--oldest-shell", required=True, type=lambda v: int(v, 0))
    parser.add_argument("--dll", action="append", default=[])
    parser.add_argument("files", nargs="*")
    args = parser.parse_args()
    results = [check(f, args, True) for f in args.dll] + [check(f, args, False) for f in args.files]
    return 0 if results and all(results) else 1


if __name__ == "__main__":
    sys.exit(main())

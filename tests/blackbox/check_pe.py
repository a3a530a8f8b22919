#!/usr/bin/env python3
"""Fails unless a built DLL imports only system DLLs, exports the four entry
points by their plain names and names itself VantorBHO.DLL in its export
directory. Reads the headers with the toolchain's objdump."""
import re
import subprocess
import sys

SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "advapi32.dll", "ole32.dll", "oleaut32.dll", "shlwapi.dll",
    "wininet.dll", "msvcrt.dll", "shell32.dll", "gdi32.dll", "version.dll", "urlmon.dll",
}
EXPORTS = {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer"}


def main(objdump, dll):
    text = subprocess.run([objdump, "-p", dll], check=True, capture_output=True, text=True).stdout
    failures = []
    imports = {m.lower() for m in re.findall(r"^\s*DLL Name: (\S+)", text, re.M)}
    for name in sorted(imports - SYSTEM_DLLS):
        failures.append(f"imports a non-system DLL: {name}")
    module_name = re.search(r"^Name\s+[0-9a-fA-F]+\s+(\S+)", text, re.M)
    if not module_name or module_name.group(1) != "VantorBHO.DLL":
        failures.append(f"export directory name is {module_name.group(1) if module_name else None}")
    table = text.split("[Ordinal/Name Pointer] Table", 1)
    exported = set(re.findall(r"\]\s+(\S+)\s*$", table[1], re.M)) if len(table) == 2 else set()
    for name in sorted(EXPORTS - exported):
        failures.append(f"does not export {name} by its plain name")
    for f in failures:
        print(f"{dll}: {f}")
    if not failures:
        print(f"{dll}: imports {', '.join(sorted(imports))}; exports {', '.join(sorted(exported))}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))

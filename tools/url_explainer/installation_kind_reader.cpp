// The package's traces in the registry. Both packages write them in the
// 64-bit view on 64-bit Windows (the 32-bit package refuses to run there); a
// 32-bit system ignores the view flag.
#include "tools/url_explainer/installation_kind.h"

#include "common/registry_reader.h"
#include "common/string_conversion.h"
#include "common/win_handles.h"
#include "server/registration.h"

#include <windows.h>

namespace {

const REGSAM kPackageView = KEY_WOW64_64KEY;
// The product's name in its installed-programs entry, which Windows Installer
// keys by the product code, a new one for each version.
const wchar_t kProductName[] = L"WebCorvaneBHO";
const wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

bool HasInstalledProgramsEntry() {
    RegKey entries;
    if (!OpenRegistryKey(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_READ, entries, kPackageView))
        return false;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD length = ARRAYSIZE(name);
        const LONG result =
            RegEnumKeyExW(entries.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_MORE_DATA)
            continue;  // longer than any product code
        if (result != ERROR_SUCCESS)
            return false;
        std::wstring product;
        if (ReadRegistryString(entries.Get(), name, L"DisplayName", product, kPackageView) &&
            product == kProductName) {
            return true;
        }
    }
}

bool HasActiveSetupEntry() {
    for (const char* id : {kActiveSetupId32, kActiveSetupId64}) {
        if (RegistryKeyExists(HKEY_LOCAL_MACHINE, Utf8ToWide(std::string(kActiveSetupKey) + id),
                              kPackageView))
            return true;
    }
    return false;
}

}  // namespace

InstallationKind FindInstallationKind() {
    return HasInstalledProgramsEntry() || HasActiveSetupEntry() ? InstallationKind::kPackage
                                                                : InstallationKind::kArchive;
}

std::string RegisterFixHere() {
    return RegisterAgainFix(FindInstallationKind()) + ".";
}

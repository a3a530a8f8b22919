// Self-registration: the COM keys of both classes from one table per class,
// the Browser Helper Objects key, the "DownloadUI" values and the Maxthon
// plug-in; unregistration undoes them in the reverse order. Both answer
// whether everything was done, so that regsvr32 and an installer can say so.
#include "server/registration.h"

#include "common/boundary.h"
#include "common/guid_text.h"
#include "common/identifiers.h"
#include "common/module_path.h"
#include "common/registry_reader.h"
#include "common/string_conversion.h"
#include "common/win_handles.h"
#include "server/maxthon_plugin.h"
#include "common/module_state.h"

#include <objbase.h>
#include <olectl.h>
#include <shlwapi.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Both classes share the one type library.
constexpr char kTypeLibName[] = "VantorBHO 1.0 Type Library";
constexpr char kVersion[] = "1.0";

constexpr char kHelperDescription[] = "WebCorvane Browser Helper";
constexpr char kHelperInterfaceName[] = "IWebCorvaneIEHelper";

constexpr char kDownloadManagerDescription[] = "VDownloaddManager Class";
constexpr char kDownloadManagerInterfaceName[] = "IVDownloadManager";

// The key name `format` with its "%s" replaced by `argument`, in `name`;
// false when it does not fit. Without an argument `format` is the complete
// key name (a ProgID) and is never read as a format.
bool FormatKeyName(const char* format, const char* argument, char (&name)[MAX_PATH]) noexcept {
    int length = 0;
    if (argument != nullptr) {
        length = std::snprintf(name, sizeof(name), format, argument);
    } else {
        length = std::snprintf(name, sizeof(name), "%s", format);
    }
    return length >= 0 && static_cast<size_t>(length) < sizeof(name);
}

// A removal that found nothing to remove did what it was asked.
bool Removed(LSTATUS status) noexcept {
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

bool HasSubkeys(HKEY root, const char* keyName) noexcept {
    return RegistryKeyHasSubkeys(root, Utf8ToWide(keyName));
}

}  // namespace

RegistrationTable FillRegistrationTable(const ClassRegistrationTexts& t) {
    HKEY const root = HKEY_CLASSES_ROOT;
    RegistrationTable rows = {{
        {root, "%s.1", t.progId, nullptr, t.description, false},
        {root, "%s.1\\CLSID", t.progId, nullptr, t.clsidText, false},
        {root, t.progId, nullptr, nullptr, t.description, false},
        {root, "%s\\CLSID", t.progId, nullptr, t.clsidText, false},
        {root, "%s\\CurVer", t.progId, nullptr, t.versionedProgId, false},
        {root, "CLSID\\%s", t.clsidText, nullptr, t.description, true},
        {root, "CLSID\\%s\\ProgID", t.clsidText, nullptr, t.versionedProgId, false},
        {root, "CLSID\\%s\\VersionIndependentProgID", t.clsidText, nullptr, t.progId, false},
        {root, "CLSID\\%s\\Programmable", t.clsidText, nullptr, nullptr, true},
        {root, kInprocServerKeyFormat, t.clsidText, nullptr, t.modulePath, false},
        {root, kInprocServerKeyFormat, t.clsidText, "ThreadingModel", "Apartment", false},
        {root, "CLSID\\%s\\Control", t.clsidText, nullptr, nullptr, true},
        {root, "CLSID\\%s\\TypeLib", t.clsidText, nullptr, t.libidText, false},
        {root, "CLSID\\%s\\Version", t.clsidText, nullptr, t.version, false},
        {root, kImplementedCategoryKeyFormat, t.clsidText, nullptr, nullptr, false},
        {root, "TypeLib\\%s", t.libidText, nullptr, nullptr, false},
        {root, "TypeLib\\%s\\1.0", t.libidText, nullptr, t.typeLibName, false},
        {root, "TypeLib\\%s\\1.0\\0", t.libidText, nullptr, nullptr, false},
        {root, "TypeLib\\%s\\1.0\\0\\win32", t.libidText, nullptr, t.modulePath, false},
        {root, "TypeLib\\%s\\1.0\\FLAGS", t.libidText, nullptr, "0", false},
        {root, "TypeLib\\%s\\1.0\\HELPDIR", t.libidText, nullptr, t.moduleDirectory, false},
        {root, "Interface\\%s", t.iidText, nullptr, t.interfaceName, false},
        {root, "Interface\\%s\\ProxyStubClsid", t.iidText, nullptr, kAutomationMarshalerText,
         false},
        {root, "Interface\\%s\\ProxyStubClsid32", t.iidText, nullptr, kAutomationMarshalerText,
         false},
        {root, "Interface\\%s\\TypeLib", t.iidText, nullptr, t.libidText, false},
        {root, "Interface\\%s\\TypeLib", t.iidText, "Version", t.version, false},
    }};
    // The walk stops at a null root: the interface rows are left out whole.
    if (!t.writesInterfaceKey)
        rows[kInterfaceRowIndex].root = nullptr;
    return rows;
}

int WriteRegistryRows(const RegistryRow* rows, std::size_t count) {
    int written = 1;
    for (std::size_t i = 0; i < count && rows[i].root != nullptr; ++i) {
        const RegistryRow& row = rows[i];
        char keyName[MAX_PATH];
        if (!FormatKeyName(row.keyFormat, row.keyArgument, keyName)) {
            written = 0;
            continue;
        }
        const std::wstring key = Utf8ToWide(keyName);
        if (row.deleteFirst)
            SHDeleteKeyW(row.root, key.c_str());
        RegKey handle;
        DWORD disposition = 0;
        if (RegCreateKeyExW(row.root, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                            nullptr, handle.Receive(), &disposition) != ERROR_SUCCESS) {
            written = 0;
            continue;
        }
        if (row.valueData != nullptr) {
            const std::wstring data = Utf8ToWide(row.valueData);
            const std::wstring name = row.valueName != nullptr ? Utf8ToWide(row.valueName) : L"";
            // The terminating zero is stored with the text.
            if (RegSetValueExW(handle.Get(), row.valueName != nullptr ? name.c_str() : nullptr, 0,
                               REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                               static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))) !=
                ERROR_SUCCESS) {
                written = 0;
            }
        }
    }
    return written;
}

bool IsLibraryInterface(REFIID iid) noexcept {
    return IsEqualIID(iid, IID_IWebCorvaneIEHelper) != FALSE;
}

int RegisterComClass(REFCLSID clsid, REFGUID libid, REFIID iid, const char* description,
                     const char* progId, const char* version, const char* typeLibName,
                     const char* interfaceName) noexcept {
    return GuardBoundary(0, [&] {
        std::string clsidText;
        std::string libidText;
        std::string iidText;
        if (!GuidToText(clsid, clsidText) || !GuidToText(libid, libidText) ||
            !GuidToText(iid, iidText)) {
            return 0;
        }
        std::wstring path;
        if (!GetModulePath(moduleInstance, path))
            return 0;
        const std::string modulePath = WideToUtf8(path);
        const std::string moduleDirectory = WideToUtf8(DirectoryOf(path));
        const std::string versionedProgId = std::string(progId) + ".1";

        const ClassRegistrationTexts texts = {
            clsidText.c_str(),
            libidText.c_str(),
            iidText.c_str(),
            description,
            progId,
            versionedProgId.c_str(),
            version,
            typeLibName,
            interfaceName,
            modulePath.c_str(),
            moduleDirectory.c_str(),
            IsLibraryInterface(iid),
        };
        const RegistrationTable rows = FillRegistrationTable(texts);
        return WriteRegistryRows(rows.data(), rows.size());
    });
}

int UnregisterComClass(REFCLSID clsid, REFGUID libid, REFIID iid, const char* progId) noexcept {
    return GuardBoundary(0, [&] {
        bool removed = Removed(SHDeleteKeyA(HKEY_CLASSES_ROOT, progId));
        removed &= Removed(SHDeleteKeyA(HKEY_CLASSES_ROOT, (std::string(progId) + ".1").c_str()));

        struct Deletion {
            REFGUID guid;
            const char* format;
            bool ours;
        } const deletions[] = {
            {clsid, "CLSID\\%s", true},
            {libid, "TypeLib\\%s", true},
            // The platform's own interface keys stay as the platform wrote them.
            {iid, "Interface\\%s", IsLibraryInterface(iid)},
        };
        for (const Deletion& d : deletions) {
            std::string text;
            if (!d.ours)
                continue;
            char keyName[MAX_PATH];
            if (!GuidToText(d.guid, text) || !FormatKeyName(d.format, text.c_str(), keyName)) {
                removed = false;
                continue;
            }
            removed &= Removed(SHDeleteKeyA(HKEY_CLASSES_ROOT, keyName));
        }
        return removed ? 1 : 0;
    });
}

bool FormatBrowserHelperKey(const char* clsidText, char (&keyName)[MAX_PATH]) noexcept {
    // wsprintfA knows no buffer size: the CLSID text is 38 characters.
    if (std::strlen(kBrowserHelperKeyFormat) + std::strlen(clsidText) >= sizeof(keyName))
        return false;
    wsprintfA(keyName, kBrowserHelperKeyFormat, clsidText);
    return true;
}

int SetBrowserHelperKey(REFCLSID clsid, int install) noexcept {
    std::string clsidText;
    if (!GuidToText(clsid, clsidText))
        return 0;
    char keyName[MAX_PATH];
    if (!FormatBrowserHelperKey(clsidText.c_str(), keyName))
        return 0;
    if (install != 0) {
        RegKey key;
        return RegCreateKeyA(HKEY_LOCAL_MACHINE, keyName, key.Receive()) == ERROR_SUCCESS &&
                       RegSetValueExA(key.Get(), nullptr, 0, REG_SZ,
                                      reinterpret_cast<const BYTE*>(kBrowserHelperName),
                                      static_cast<DWORD>(std::strlen(kBrowserHelperName))) ==
                           ERROR_SUCCESS
                   ? 1
                   : 0;
    }
    // The key alone: a key someone else put below it keeps it in place.
    return Removed(RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyName)) ||
                   HasSubkeys(HKEY_LOCAL_MACHINE, keyName)
               ? 1
               : 0;
}

int SetDownloadUIIn(HKEY root, REFCLSID clsid, int install) noexcept {
    std::string clsidText;
    if (!GuidToText(clsid, clsidText))
        return 0;
    if (install != 0) {
        return SHSetValueA(root, kInternetExplorerKey, kDownloadUIValue, REG_SZ, clsidText.c_str(),
                           static_cast<DWORD>(clsidText.size())) == ERROR_SUCCESS
                   ? 1
                   : 0;
    }
    return Removed(SHDeleteValueA(root, kInternetExplorerKey, kDownloadUIValue)) ? 1 : 0;
}

int SetDownloadUI(REFCLSID clsid, int install) noexcept {
    const HKEY roots[] = {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER};
    int done = 1;
    for (std::size_t i = 0; i < 2; ++i) {
        // Removal clears the user's value first, as it was written last.
        const HKEY root = roots[install != 0 ? i : 1 - i];
        done &= SetDownloadUIIn(root, clsid, install);
    }
    return done;
}

namespace {

// The per-user parts: the user's "DownloadUI" and the Maxthon plug-in. A
// user without Maxthon has no plug-in to write.
bool SetPerUserParts(int install) noexcept {
    bool done = SetDownloadUIIn(HKEY_CURRENT_USER, CLSID_VDownloadManager, install) != 0;
    const bool maxthon = GuardBoundary(false, [] {
        std::wstring folder;
        return FindPluginFolder(folder);
    });
    if (maxthon)
        done &= RegisterMaxthonPlugin(install) != 0;
    return done;
}

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
    return GuardBoundary(SELFREG_E_CLASS, [] {
        // Each step runs whatever the earlier ones answered.
        bool done = RegisterComClass(CLSID_WebCorvaneIEHelper, LIBID_WebCorvaneBHO,
                                     IID_IWebCorvaneIEHelper, kHelperDescription, kHelperProgId,
                                     kVersion, kTypeLibName, kHelperInterfaceName) != 0;
        done &= RegisterComClass(CLSID_VDownloadManager, LIBID_WebCorvaneBHO,
                                 IID_DownloadManagerInterface, kDownloadManagerDescription,
                                 kDownloadManagerProgId, kVersion, kTypeLibName,
                                 kDownloadManagerInterfaceName) != 0;
        done &= SetBrowserHelperKey(CLSID_WebCorvaneIEHelper, 1) != 0;
        done &= SetDownloadUIIn(HKEY_LOCAL_MACHINE, CLSID_VDownloadManager, 1) != 0;
        done &= SetPerUserParts(1);
        return done ? S_OK : SELFREG_E_CLASS;
    });
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
    return GuardBoundary(SELFREG_E_CLASS, [] {
        bool done = SetPerUserParts(0);
        done &= SetDownloadUIIn(HKEY_LOCAL_MACHINE, CLSID_VDownloadManager, 0) != 0;
        done &= SetBrowserHelperKey(CLSID_WebCorvaneIEHelper, 0) != 0;
        done &= UnregisterComClass(CLSID_VDownloadManager, LIBID_WebCorvaneBHO,
                                   IID_DownloadManagerInterface, kDownloadManagerProgId) != 0;
        done &= UnregisterComClass(CLSID_WebCorvaneIEHelper, LIBID_WebCorvaneBHO,
                                   IID_IWebCorvaneIEHelper, kHelperProgId) != 0;
        return done ? S_OK : SELFREG_E_CLASS;
    });
}

// regsvr32 /n /i:user (and /u /n /i:user): the per-user parts alone, for the
// user who runs it, as Active Setup does at each user's first logon after a
// machine-wide install.
extern "C" HRESULT STDAPICALLTYPE DllInstall(BOOL install, LPCWSTR argument) {
    return GuardBoundary(E_FAIL, [&] {
        if (argument == nullptr || lstrcmpiW(argument, kPerUserInstallArgument) != 0)
            return E_INVALIDARG;
        return SetPerUserParts(install ? 1 : 0) ? S_OK : SELFREG_E_CLASS;
    });
}

#include "native_host/user_registration.h"

#include "native_host/browser_keys.h"
#include "native_host/registry_offer_log.h"

#include "common/module_path.h"
#include "common/string_conversion.h"
#include "common/win_handles.h"

#include <windows.h>

namespace {

std::string Describe(const Browser& browser, const char* what, LONG status) {
    return WideToUtf8(L"HKCU\\" + HostKey(browser.makers[0])) + ": " + what + " failed (error " +
           std::to_string(status) + ")";
}

bool ManifestPath(const Browser& browser, std::wstring& path) {
    std::wstring directory;
    if (!GetModuleDirectory(nullptr, directory))
        return false;
    path = directory + ManifestFileName(browser);
    return true;
}

bool IsEmptyKey(const std::wstring& name) {
    RegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, name.c_str(), 0, KEY_QUERY_VALUE, key.Receive()) !=
        ERROR_SUCCESS)
        return false;
    DWORD subkeys = 0, values = 0;
    return RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                            &values, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
           subkeys == 0 && values == 0;
}

void RemoveEmptyParents(const Browser& browser) {
    std::wstring name = Utf8ToWide(std::string(browser.makers[0]) + "\\NativeMessagingHosts");
    for (int level = 0; level <= browser.ownKeyParents; ++level) {
        if (!IsEmptyKey(name) || RegDeleteKeyW(HKEY_CURRENT_USER, name.c_str()) != ERROR_SUCCESS)
            return;
        name.resize(name.rfind(L'\\'));
    }
}

}  // namespace

bool RegisterForUser(std::string& error) {
    // Every manifest first: a key naming a missing one would leave that
    // browser with a host it cannot start.
    for (const Browser& browser : kBrowsers) {
        if (browser.ownKeyParents < 0)
            continue;
        std::wstring manifest;
        if (!ManifestPath(browser, manifest)) {
            error = "the host's own path cannot be had";
            return false;
        }
        if (GetFileAttributesW(manifest.c_str()) == INVALID_FILE_ATTRIBUTES) {
            error = WideToUtf8(manifest) + " is missing: the browsers would find no host";
            return false;
        }
    }
    bool ok = true;
    for (const Browser& browser : kBrowsers) {
        if (browser.ownKeyParents < 0)
            continue;
        std::wstring manifest;
        ManifestPath(browser, manifest);
        RegKey key;
        LONG status = RegCreateKeyExW(HKEY_CURRENT_USER, HostKey(browser.makers[0]).c_str(), 0,
                                      nullptr, 0, KEY_SET_VALUE, nullptr, key.Receive(), nullptr);
        if (status == ERROR_SUCCESS) {
            status = RegSetValueExW(key.Get(), nullptr, 0, REG_SZ,
                                    reinterpret_cast<const BYTE*>(manifest.c_str()),
                                    static_cast<DWORD>((manifest.size() + 1) * sizeof(wchar_t)));
        }
        if (status != ERROR_SUCCESS) {
            error += (error.empty() ? "" : "; ") + Describe(browser, "writing", status);
            ok = false;
        }
    }
    return ok;
}

bool UnregisterForUser(std::string& error) {
    bool ok = true;
    for (const Browser& browser : kBrowsers) {
        if (browser.ownKeyParents < 0)
            continue;
        const LONG status = RegDeleteKeyW(HKEY_CURRENT_USER, HostKey(browser.makers[0]).c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
            error += (error.empty() ? "" : "; ") + Describe(browser, "removing", status);
            ok = false;
            continue;
        }
        RemoveEmptyParents(browser);
    }
    // The outcomes of past offers go with the host: a host registered again
    // starts with none. Their parents are ours alone, and go once empty.
    std::wstring records = kOfferLogKey;
    LONG status = RegDeleteKeyW(HKEY_CURRENT_USER, records.c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        error += (error.empty() ? "" : "; ") + WideToUtf8(L"HKCU\\" + records) +
                 ": removing failed (error " + std::to_string(status) + ")";
        ok = false;
    }
    bool gone = status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
    for (int level = 0; level < 2 && gone; ++level) {
        records.resize(records.rfind(L'\\'));
        gone = IsEmptyKey(records) &&
               RegDeleteKeyW(HKEY_CURRENT_USER, records.c_str()) == ERROR_SUCCESS;
    }
    return ok;
}

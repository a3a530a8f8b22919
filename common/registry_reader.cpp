#include "common/registry_reader.h"

#include <shlwapi.h>

#include <cwchar>

bool OpenRegistryKey(HKEY root, const std::wstring& path, REGSAM access, RegKey& key, REGSAM view) {
    return RegOpenKeyExW(root, path.c_str(), 0, access | view, key.Receive()) == ERROR_SUCCESS;
}

bool RegistryKeyExists(HKEY root, const std::wstring& path, REGSAM view) {
    RegKey key;
    return OpenRegistryKey(root, path, KEY_QUERY_VALUE, key, view);
}

bool RegistryKeyHasSubkeys(HKEY root, const std::wstring& path, REGSAM view) {
    RegKey key;
    DWORD subkeys = 0;
    return OpenRegistryKey(root, path, KEY_READ, key, view) &&
           RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
           subkeys != 0;
}

namespace {

// Each subkey's (or value's) name by its index, until there is none.
template <typename Enumerate>
bool ReadNames(HKEY root, const std::wstring& path, REGSAM view, std::vector<std::wstring>& names,
               Enumerate enumerate) {
    RegKey key;
    if (!OpenRegistryKey(root, path, KEY_READ, key, view))
        return false;
    names.clear();
    // Names are at most 255 characters for keys and 16,383 for values.
    std::wstring name(16384, L'\0');
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(name.size());
        const LONG status = enumerate(key.Get(), index, &name[0], &length);
        if (status != ERROR_SUCCESS)
            return status == ERROR_NO_MORE_ITEMS;
        names.push_back(name.substr(0, length));
    }
}

}  // namespace

bool ReadRegistrySubkeyNames(HKEY root, const std::wstring& path, std::vector<std::wstring>& names,
                             REGSAM view) {
    return ReadNames(
        root, path, view, names, [](HKEY key, DWORD index, wchar_t* name, DWORD* length) {
            return RegEnumKeyExW(key, index, name, length, nullptr, nullptr, nullptr, nullptr);
        });
}

bool ReadRegistryValueNames(HKEY root, const std::wstring& path, std::vector<std::wstring>& names,
                            REGSAM view) {
    return ReadNames(
        root, path, view, names, [](HKEY key, DWORD index, wchar_t* name, DWORD* length) {
            return RegEnumValueW(key, index, name, length, nullptr, nullptr, nullptr, nullptr);
        });
}

bool ReadRegistryString(HKEY key, const wchar_t* name, std::wstring& text) {
    // The shell's reader (XP SP3 has it; RegGetValue came with Vista) ends a
    // string stored without its terminating zero, as "DownloadUI" is, where
    // RegQueryValueEx would hand back the bytes as stored.
    const SRRF flags = SRRF_RT_REG_SZ | SRRF_RT_REG_EXPAND_SZ | SRRF_NOEXPAND;
    const wchar_t* const valueName = name != nullptr ? name : L"";
    std::wstring data;
    DWORD size = 0;
    LSTATUS status = ERROR_MORE_DATA;
    // The value can grow between asking its size and reading it.
    while (status == ERROR_MORE_DATA) {
        data.assign(size / sizeof(wchar_t) + 1, L'\0');
        size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        status = SHRegGetValueW(key, nullptr, valueName, flags, nullptr, &data[0], &size);
    }
    if (status != ERROR_SUCCESS)
        return false;
    data.resize(std::wcslen(data.c_str()));
    text.swap(data);
    return true;
}

bool ReadRegistryString(HKEY root, const std::wstring& path, const wchar_t* name,
                        std::wstring& text, REGSAM view) {
    RegKey key;
    return OpenRegistryKey(root, path, KEY_QUERY_VALUE, key, view) &&
           ReadRegistryString(key.Get(), name, text);
}

bool ReadRegistryDword(HKEY key, const wchar_t* name, DWORD& data) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(value)) {
        return false;
    }
    data = value;
    return true;
}

bool ReadRegistryDword(HKEY root, const std::wstring& path, const wchar_t* name, DWORD& data,
                       REGSAM view) {
    RegKey key;
    return OpenRegistryKey(root, path, KEY_QUERY_VALUE, key, view) &&
           ReadRegistryDword(key.Get(), name, data);
}

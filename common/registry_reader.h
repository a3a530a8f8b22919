#pragma once

#include "common/win_handles.h"

#include <windows.h>

#include <string>
#include <vector>

// The one registry reader of the library, its tools and the native host.
// `view` is 0 for this program's own view of the registry, KEY_WOW64_32KEY or
// KEY_WOW64_64KEY for a given bitness's (a 32-bit system ignores the flag).
// Each answers false when the key or value is absent, unreadable or of
// another type; the out-parameter is then left as it was.

// Opens `path` under `root` with `access` (KEY_QUERY_VALUE, KEY_READ, ...).
bool OpenRegistryKey(HKEY root, const std::wstring& path, REGSAM access, RegKey& key,
                     REGSAM view = 0);
bool RegistryKeyExists(HKEY root, const std::wstring& path, REGSAM view = 0);
// Whether the key exists and holds at least one subkey.
bool RegistryKeyHasSubkeys(HKEY root, const std::wstring& path, REGSAM view = 0);

// The names of a key's subkeys, or of its values, in the registry's order;
// false when the key cannot be opened.
bool ReadRegistrySubkeyNames(HKEY root, const std::wstring& path, std::vector<std::wstring>& names,
                             REGSAM view = 0);
bool ReadRegistryValueNames(HKEY root, const std::wstring& path, std::vector<std::wstring>& names,
                            REGSAM view = 0);

// A REG_SZ or REG_EXPAND_SZ value (left unexpanded) of any length, up to its
// first zero, whether or not it was stored with its terminator. A null or
// empty `name` reads the key's default value.
bool ReadRegistryString(HKEY key, const wchar_t* name, std::wstring& text);
bool ReadRegistryString(HKEY root, const std::wstring& path, const wchar_t* name,
                        std::wstring& text, REGSAM view = 0);

// A REG_DWORD value.
bool ReadRegistryDword(HKEY key, const wchar_t* name, DWORD& data);
bool ReadRegistryDword(HKEY root, const std::wstring& path, const wchar_t* name, DWORD& data,
                       REGSAM view = 0);

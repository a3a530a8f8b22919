#include "tests/support/registry_sandbox.h"

#include <shlwapi.h>

#include <cstdio>
#include <vector>

namespace {
const char kScratchParent[] = "Software\\WebCorvaneTests";

std::string TypeName(DWORD type) {
    switch (type) {
        case REG_SZ:
            return "REG_SZ";
        case REG_EXPAND_SZ:
            return "REG_EXPAND_SZ";
        case REG_BINARY:
            return "REG_BINARY";
        case REG_DWORD:
            return "REG_DWORD";
        case REG_MULTI_SZ:
            return "REG_MULTI_SZ";
        default:
            return "type" + std::to_string(type);
    }
}

void ListKey(HKEY key, const std::string& path, RegistryListing& listing) {
    for (DWORD index = 0;; ++index) {
        char name[16384];
        DWORD nameLength = sizeof(name);
        DWORD type = 0;
        DWORD size = 0;
        if (RegEnumValueA(key, index, name, &nameLength, nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS) {
            break;
        }
        std::vector<BYTE> data(size + 1);
        DWORD dataSize = size;
        nameLength = sizeof(name);
        if (RegEnumValueA(key, index, name, &nameLength, nullptr, &type, data.data(), &dataSize) !=
            ERROR_SUCCESS) {
            break;
        }
        const std::string valueName = nameLength == 0 ? "@" : name;
        listing[path + " |" + valueName] =
            ValueEntry(type, std::string(reinterpret_cast<char*>(data.data()), dataSize));
    }
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD nameLength = sizeof(name);
        if (RegEnumKeyExA(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        const std::string child = path + "\\" + name;
        listing[child] = "key";
        HKEY sub = nullptr;
        if (RegOpenKeyExA(key, name, 0, KEY_READ, &sub) == ERROR_SUCCESS) {
            ListKey(sub, child, listing);
            RegCloseKey(sub);
        } else {
            listing[child] = "key (unreadable)";
        }
    }
}
}  // namespace

RegistrySandbox::RegistrySandbox() {
    static unsigned counter = 0;
    char name[96];
    std::snprintf(name, sizeof(name), "%s\\%lu-%lu-%u", kScratchParent, GetCurrentProcessId(),
                  GetTickCount(), ++counter);
    base_ = name;
    const char* parts[] = {"HKCR", "HKLM", "HKCU"};
    ready_ = true;
    for (int i = 0; i < 3; ++i) {
        const std::string path = base_ + "\\" + parts[i];
        if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &keys_[i], nullptr) != ERROR_SUCCESS) {
            ready_ = false;
        }
    }
    // The library imports WinINet, whose start-up reads and writes the real
    // hives (shell folders, profile list): load it while they are still real,
    // so that a DLL loaded inside the sandbox finds it running and the
    // sandbox holds only what registration wrote. It stays loaded.
    static const HMODULE wininet = LoadLibraryA("wininet.dll");
    (void)wininet;
    // The scratch keys are opened before HKCU itself is redirected.
    ready_ = ready_ && RegOverridePredefKey(HKEY_CLASSES_ROOT, keys_[0]) == ERROR_SUCCESS &&
             RegOverridePredefKey(HKEY_LOCAL_MACHINE, keys_[1]) == ERROR_SUCCESS &&
             RegOverridePredefKey(HKEY_CURRENT_USER, keys_[2]) == ERROR_SUCCESS;
}

RegistrySandbox::~RegistrySandbox() {
    RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    for (HKEY key : keys_) {
        if (key != nullptr)
            RegCloseKey(key);
    }
    SHDeleteKeyA(HKEY_CURRENT_USER, base_.c_str());
    SHDeleteEmptyKeyA(HKEY_CURRENT_USER, kScratchParent);
}

void AddListing(HKEY root, const std::string& label, RegistryListing& listing) {
    ListKey(root, label, listing);
}

RegistryListing ListSandbox(const RegistrySandbox& sandbox) {
    RegistryListing listing;
    AddListing(sandbox.ClassesRoot(), "HKCR", listing);
    AddListing(sandbox.LocalMachine(), "HKLM", listing);
    AddListing(sandbox.CurrentUser(), "HKCU", listing);
    return listing;
}

std::string ValueEntry(DWORD type, const std::string& bytes) {
    std::string shown;
    for (char c : bytes) {
        if (c == '\0')
            shown += "\\0";
        else
            shown += c;
    }
    return TypeName(type) + " " + std::to_string(bytes.size()) + " " + shown;
}

std::string DescribeDifference(const RegistryListing& expected, const RegistryListing& actual) {
    std::string text;
    for (const auto& entry : expected) {
        auto it = actual.find(entry.first);
        if (it == actual.end())
            text += "missing: " + entry.first + " = " + entry.second + "\n";
        else if (it->second != entry.second)
            text += "differs: " + entry.first + " = " + it->second + ", expected " + entry.second +
                    "\n";
    }
    for (const auto& entry : actual) {
        if (expected.find(entry.first) == expected.end())
            text += "extra:   " + entry.first + " = " + entry.second + "\n";
    }
    return text;
}

bool PutValue(HKEY root, const char* key, const char* name, DWORD type, const std::string& bytes) {
    HKEY handle = nullptr;
    if (RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    const LONG status =
        RegSetValueExA(handle, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                       static_cast<DWORD>(bytes.size()));
    RegCloseKey(handle);
    return status == ERROR_SUCCESS;
}

bool PutString(HKEY root, const char* key, const char* name, const std::string& text) {
    return PutValue(root, key, name, REG_SZ, std::string(text.c_str(), text.size() + 1));
}

bool KeyExists(HKEY root, const char* key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(root, key, 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

HKEY OpenDeletedKey(HKEY parent) {
    const char name[] = "deleted while open";
    HKEY key = nullptr;
    if (RegCreateKeyExA(parent, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return nullptr;
    }
    if (RegDeleteKeyA(parent, name) != ERROR_SUCCESS) {
        RegCloseKey(key);
        return nullptr;
    }
    return key;
}

#include "native_host/browser_keys.h"

#include "common/identifiers.h"
#include "common/registry_reader.h"
#include "common/string_conversion.h"

std::wstring HostKey(const char* maker) {
    return Utf8ToWide(std::string(maker) + "\\NativeMessagingHosts\\" + kNativeHostName);
}

std::wstring ManifestFileName(const Browser& browser) {
    return Utf8ToWide(kNativeHostName) + (browser.gecko ? L".firefox.json" : L".json");
}

bool TwoRegistryViews() {
    if (sizeof(void*) == 8)
        return true;
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

std::vector<RegistryPlace> SearchPlaces() {
    std::vector<RegistryPlace> places{{HKEY_CURRENT_USER, 0},
                                      {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY}};
    if (TwoRegistryViews())
        places.push_back({HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY});
    return places;
}

std::vector<HostKeyFound> FindHostKeys(const Browser& browser) {
    std::vector<HostKeyFound> found;
    for (const RegistryPlace& place : SearchPlaces()) {
        for (const char* maker : browser.makers) {
            if (maker == nullptr)
                break;
            std::wstring manifest;
            if (RegistryKeyExists(place.root, HostKey(maker), place.view)) {
                ReadRegistryString(place.root, HostKey(maker), nullptr, manifest, place.view);
                found.push_back({place.root == HKEY_CURRENT_USER, place.view, maker, manifest});
            }
        }
    }
    return found;
}

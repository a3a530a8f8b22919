#pragma once

// Where each browser that can start our host looks for it on Windows, which
// of those keys we write, and where its maker's policies live: one table for
// the host's registration, the packages' and the installation check.
//
// A browser reads the default value of <maker key>\NativeMessagingHosts\<host>,
// the full path of the host's manifest: below HKCU first (unless a policy
// turns hosts registered for the user off), then below HKLM, each time in the
// 32-bit view before the 64-bit one, and within a view its makers' keys in
// its order. Chromium's browsers other than Chrome read Software\Chromium's
// key, then Chrome's; Edge its own, then those two. So Chrome's key serves
// every Chromium browser, and only Chrome's, Edge's and Mozilla's are written.

#include <windows.h>

#include <string>
#include <vector>

struct Browser {
    const char* name;
    const char* program;    // its program's name under App Paths
    const char* pathPart;   // in its program's path, lower case: tells it from the others
    const char* makers[3];  // the makers' keys whose NativeMessagingHosts it reads, in order
    // -1 when we write none of its own keys (it reads another's); otherwise we
    // write makers[0]'s, and removal may take this many empty keys above
    // NativeMessagingHosts (never HKCU\Software\Microsoft itself).
    int ownKeyParents;
    const char* policies;  // its maker's policy key below HKLM and HKCU; null when none is known
    bool gecko;            // Firefox: a manifest and an ID of its own, policies of its own
};

// clang-format off
inline constexpr Browser kBrowsers[] = {
    {"Chrome", "chrome.exe", "\\google\\chrome",
     {"Software\\Google\\Chrome"},
     2, "Software\\Policies\\Google\\Chrome", false},
    {"Edge", "msedge.exe", "\\microsoft\\edge",
     {"Software\\Microsoft\\Edge", "Software\\Chromium", "Software\\Google\\Chrome"},
     1, "Software\\Policies\\Microsoft\\Edge", false},
    {"Firefox", "firefox.exe", "firefox.exe",
     {"Software\\Mozilla"},
     1, "Software\\Policies\\Mozilla\\Firefox", true},
    {"Chromium", "chrome.exe", "\\chromium\\",
     {"Software\\Chromium", "Software\\Google\\Chrome"},
     -1, "Software\\Policies\\Chromium", false},
    {"Brave", "brave.exe", "\\bravesoftware\\",
     {"Software\\Chromium", "Software\\Google\\Chrome"},
     -1, "Software\\Policies\\BraveSoftware\\Brave", false},
    {"Vivaldi", "vivaldi.exe", "\\vivaldi\\",
     {"Software\\Chromium", "Software\\Google\\Chrome"},
     -1, nullptr, false},
    {"Opera", "opera.exe", "\\opera\\|\\opera gx\\",
     {"Software\\Chromium", "Software\\Google\\Chrome"},
     -1, nullptr, false},
    {"Yandex", "browser.exe", "\\yandex\\",
     {"Software\\Chromium", "Software\\Google\\Chrome"},
     -1, "Software\\Policies\\YandexBrowser", false},
};
// clang-format on

// <maker>\NativeMessagingHosts\<our host's name>.
std::wstring HostKey(const char* maker);
// The manifest a browser's key names: Chromium's, or Firefox's own.
std::wstring ManifestFileName(const Browser& browser);

// Whether this Windows has a 32-bit and a 64-bit view of HKLM\Software.
bool TwoRegistryViews();

// Where the browsers look, in their order: HKCU (\Software is one key in
// both views), then HKLM's 32-bit view, then its 64-bit view where there is
// one (a 32-bit system's one view is read by either flag).
struct RegistryPlace {
    HKEY root;
    REGSAM view;
};
std::vector<RegistryPlace> SearchPlaces();

// One registration of our host a browser would consider.
struct HostKeyFound {
    bool user;              // below HKCU; otherwise HKLM
    REGSAM view;            // KEY_WOW64_32KEY or KEY_WOW64_64KEY below HKLM, else 0
    const char* maker;      // whose key: one of the browser's `makers`
    std::wstring manifest;  // its default value
};
// Every registration of our host `browser` would consider, in the order it
// searches; it uses the first, or the first below HKLM when hosts registered
// for the user are turned off.
std::vector<HostKeyFound> FindHostKeys(const Browser& browser);

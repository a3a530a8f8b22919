// Chrome, Edge and Firefox reach the download agent through our extension and
// the native messaging host. Each browser finds the host through a registry
// key naming the host's manifest; the manifest names the program and the
// extensions allowed to start it (Firefox's manifest is a file of its own: it
// refuses Chromium's "allowed_origins", and allows by "allowed_extensions").
// Any link of that chain missing, and every download stays with the browser.
#include "tools/url_explainer/check_steps.h"

#include "common/identifiers.h"
#include "common/registry_reader.h"
#include "common/string_conversion.h"
#include "common/win_handles.h"
#include "handoff/handoff_policy.h"

#include <shlwapi.h>

#include <nlohmann/json.hpp>

#include <string>

namespace {

struct Browser {
    const char* name;
    const char* hostsKey;  // the browser's NativeMessagingHosts key, below HKCU and HKLM
    const char* program;   // its program's name under App Paths
    bool gecko;            // Firefox's manifest and ID, not Chromium's
};
const Browser kBrowsers[] = {
    {"Chrome", "Software\\Google\\Chrome\\NativeMessagingHosts", "chrome.exe", false},
    {"Edge", "Software\\Microsoft\\Edge\\NativeMessagingHosts", "msedge.exe", false},
    {"Firefox", "Software\\Mozilla\\NativeMessagingHosts", "firefox.exe", true},
};

// The manifest's list of extensions allowed to start the host, and our
// extension as that list names it.
const char* AllowedKey(const Browser& browser) {
    return browser.gecko ? "allowed_extensions" : "allowed_origins";
}
std::string OurExtension(const Browser& browser) {
    return browser.gecko ? std::string(kFirefoxExtensionId)
                         : std::string("chrome-extension://") + kChromiumExtensionId + "/";
}

const char kAppPaths[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
const char kRegisterFix[] =
    "run install.cmd of the release folder (this user), or install the package (every user).";
// A host manifest is a few hundred bytes; anything past this is not one.
constexpr DWORD kMaxManifestBytes = 64 * 1024;

// Where a browser finds the host. Chromium and Firefox read the user's key
// first, then the machine's, in the 32-bit view before the 64-bit one.
struct Registration {
    bool found = false;
    std::string where;     // the key the browser uses: "HKCU's", "HKLM (64-bit view)'s"
    std::string manifest;  // its default value: the manifest's full path
    std::string others;    // ", HKLM's": the keys found that the browser does not use
};

Registration FindRegistration(const Browser& browser) {
    const std::wstring key = Utf8ToWide(std::string(browser.hostsKey) + "\\" + kNativeHostName);
    // A 32-bit system has one view, which both flags read.
    const bool oneView = OtherRegistryView() == 0;
    struct Place {
        HKEY root;
        REGSAM view;
        const char* label;
    } const places[] = {
        {HKEY_CURRENT_USER, 0, "HKCU"},
        {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, oneView ? "HKLM" : "HKLM (32-bit view)"},
        {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, oneView ? nullptr : "HKLM (64-bit view)"},
    };
    Registration registration;
    for (const Place& place : places) {
        if (place.label == nullptr || !RegistryKeyExists(place.root, key, place.view))
            continue;
        const std::string where = std::string(place.label) + "'s";
        if (registration.found) {
            registration.others += ", " + where;
            continue;
        }
        std::wstring manifest;
        ReadRegistryString(place.root, key, nullptr, manifest, place.view);
        registration.found = true;
        registration.where = where;
        registration.manifest = WideToUtf8(manifest);
    }
    return registration;
}

bool BrowserInstalled(const Browser& browser) {
    const std::wstring key = Utf8ToWide(std::string(kAppPaths) + browser.program);
    return RegistryKeyExists(HKEY_CURRENT_USER, key) ||
           RegistryKeyExists(HKEY_LOCAL_MACHINE, key, KEY_WOW64_32KEY) ||
           RegistryKeyExists(HKEY_LOCAL_MACHINE, key, KEY_WOW64_64KEY);
}

bool ReadSmallFile(const std::string& path, std::string& text) {
    FileHandle file(CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr));
    DWORD high = 0;
    const DWORD size = file.Valid() ? GetFileSize(file.Get(), &high) : INVALID_FILE_SIZE;
    if (size == INVALID_FILE_SIZE || high != 0 || size > kMaxManifestBytes)
        return false;
    text.assign(size, '\0');
    DWORD read = 0;
    return size == 0 || (ReadFile(file.Get(), &text[0], size, &read, nullptr) && read == size);
}

// What the manifest says, as the browser reads it.
struct ManifestReading {
    std::string problem;  // why the browser would refuse it; empty when it would not
    std::string program;  // "path", as written
    bool ourOrigin = false;
};

ManifestReading ReadManifest(const Browser& browser, const std::string& text) {
    ManifestReading reading;
    const nlohmann::json manifest = nlohmann::json::parse(text, nullptr, false);
    if (manifest.is_discarded() || !manifest.is_object()) {
        reading.problem = "is not a JSON object";
        return reading;
    }
    const auto name = manifest.find("name");
    if (name == manifest.end() || !name->is_string() || *name != kNativeHostName) {
        reading.problem = std::string("does not name the host \"") + kNativeHostName + "\"";
        return reading;
    }
    const auto path = manifest.find("path");
    if (path == manifest.end() || !path->is_string() || path->get<std::string>().empty()) {
        reading.problem = "names no program (\"path\")";
        return reading;
    }
    if (browser.gecko && manifest.contains("allowed_origins")) {
        reading.problem = "is Chromium's (\"allowed_origins\")";
        return reading;
    }
    reading.program = path->get<std::string>();
    const std::string ours = OurExtension(browser);
    const auto allowedList = manifest.find(AllowedKey(browser));
    if (allowedList != manifest.end() && allowedList->is_array()) {
        for (const nlohmann::json& allowed : *allowedList)
            reading.ourOrigin = reading.ourOrigin || (allowed.is_string() && allowed == ours);
    }
    return reading;
}

// "path" relative to the manifest's folder, as the browser takes it.
std::string ProgramPath(const std::string& manifest, const std::string& program) {
    const std::wstring wide = Utf8ToWide(program);
    if (!PathIsRelativeW(wide.c_str()))
        return program;
    return manifest.substr(0, manifest.find_last_of("\\/") + 1) + program;
}

std::string SwitchState(const std::string& programPath) {
    std::wstring settings;
    const std::wstring folder =
        Utf8ToWide(programPath.substr(0, programPath.find_last_of("\\/") + 1));
    if (!ConfigurationPathIn(folder, settings))
        return "";
    const int value = ReadSwitchValue(settings, kBrowsersSwitchKey);
    return IsSwitchOn(value) ? ""
                             : WideToUtf8(settings) + " sets " + kBrowsersSwitchKey + "=" +
                                   std::to_string(value) + ", off (only 1 is on)";
}

void CheckBrowserHost(const Browser& browser, std::vector<Finding>& findings) {
    const std::string name = browser.name;
    const Registration registration = FindRegistration(browser);
    const std::string subject = name + " host";
    if (!registration.found) {
        const std::string where =
            std::string("HKCU or HKLM\\") + browser.hostsKey + "\\" + kNativeHostName;
        if (BrowserInstalled(browser)) {
            findings.push_back({Finding::kProblem, subject,
                                "not registered (no " + where + "): " + name +
                                    " cannot start the host, and every download stays with it",
                                kRegisterFix});
        } else {
            findings.push_back({Finding::kOk, subject,
                                "not registered, and " + name + " is not installed (no " +
                                    kAppPaths + browser.program + ")",
                                ""});
        }
        return;
    }
    const std::string key = std::string(browser.hostsKey) + "\\" + kNativeHostName;
    findings.push_back({Finding::kOk, subject,
                        key + ": " + registration.where + registration.others + "; " + name +
                            " uses " + registration.where +
                            " (the user's first, then the "
                            "machine's), naming " +
                            (registration.manifest.empty() ? "nothing" : registration.manifest),
                        ""});

    const std::string manifestSubject = name + " host manifest";
    std::string text;
    if (registration.manifest.empty() || !ReadSmallFile(registration.manifest, text)) {
        findings.push_back(
            {Finding::kProblem, manifestSubject,
             (registration.manifest.empty() ? registration.where + " key names no file"
                                            : registration.manifest + " cannot be read") +
                 ": " + name + " cannot start the host",
             kRegisterFix});
        return;
    }
    const ManifestReading reading = ReadManifest(browser, text);
    if (!reading.problem.empty()) {
        findings.push_back(
            {Finding::kProblem, manifestSubject,
             registration.manifest + " " + reading.problem + ": " + name + " refuses it",
             "put back the release's manifest, or " + std::string(kRegisterFix)});
        return;
    }
    findings.push_back({Finding::kOk, manifestSubject, registration.manifest + " is readable", ""});

    const std::string program = ProgramPath(registration.manifest, reading.program);
    if (!FileExists(program)) {
        findings.push_back(
            {Finding::kProblem, name + " host program",
             program + " (named by the manifest) does not exist",
             "put the host back beside its manifest, or " + std::string(kRegisterFix)});
    } else {
        const std::string off = SwitchState(program);
        findings.push_back(
            {off.empty() ? Finding::kOk : Finding::kWarning, name + " host program",
             program + (off.empty() ? "" : "; " + off + ": downloads stay with " + "the browser"),
             off.empty() ? "" : std::string("set ") + kBrowsersSwitchKey + "=1."});
    }

    const std::string ours = OurExtension(browser);
    if (reading.ourOrigin) {
        findings.push_back({Finding::kOk, name + " extension",
                            "the manifest allows our extension (" + ours + ")", ""});
    } else {
        findings.push_back({Finding::kProblem, name + " extension",
                            std::string("the manifest's \"") + AllowedKey(browser) + "\" lacks " +
                                ours + ": " + name + " refuses our extension the host",
                            "put back the release's manifest."});
    }
}

}  // namespace

void CheckChromiumBrowsers(std::vector<Finding>& findings) {
    for (const Browser& browser : kBrowsers)
        CheckBrowserHost(browser, findings);
}

// The browsers our extension serves (Chromium's family and Firefox) reach the
// download agent through the native messaging host. Each finds the host
// through a registry key naming the host's manifest
// (native_host/browser_keys.h); the manifest names the program and the
// extensions allowed to start it (Firefox's manifest is a file of its own: it
// refuses Chromium's "allowed_origins", and allows by "allowed_extensions").
// An administrator's policy may stop the browser from starting the host or
// from keeping the extension, and may set the extension's own settings. Any link of that chain
// missing, and every download stays with the browser.
#include "tools/url_explainer/check_steps.h"

#include "tools/url_explainer/browser_policies.h"
#include "tools/url_explainer/browser_policies_reader.h"

#include "common/identifiers.h"
#include "common/registry_reader.h"
#include "common/string_conversion.h"
#include "common/win_handles.h"
#include "handoff/handoff_policy.h"
#include "native_host/browser_keys.h"

#include <shlwapi.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>

namespace {

const char kAppPaths[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
const char kStartMenuInternet[] = "SOFTWARE\\Clients\\StartMenuInternet";
const char kRegisterFix[] =
    "run install.cmd of the release folder (this user), or install the package (every user).";
// A host manifest is a few hundred bytes; anything past this is not one.
constexpr DWORD kMaxManifestBytes = 64 * 1024;

// The manifest's list of extensions allowed to start the host, and our
// extension as that list names it.
const char* AllowedKey(const Browser& browser) {
    return browser.gecko ? "allowed_extensions" : "allowed_origins";
}
std::vector<std::string> OurExtensions(const Browser& browser) {
    if (browser.gecko)
        return {kFirefoxExtensionId};
    std::vector<std::string> origins;
    for (const std::string& id : ChromiumExtensionIds())
        origins.push_back("chrome-extension://" + id + "/");
    return origins;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Listed(const std::vector<std::string>& items, const char* separator = ", ") {
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : separator) + item;
    return text;
}

// The program a command line starts: quoted, or up to its ".exe".
std::string ProgramOf(const std::string& command) {
    if (!command.empty() && command[0] == '"')
        return command.substr(1, command.find('"', 1) - 1);
    const size_t exe = Lower(command).find(".exe");
    return exe == std::string::npos ? command : command.substr(0, exe + 4);
}

// The programs Windows knows as browsers: their App Paths entries and the
// browsers registered for the Start menu (StartMenuInternet).
std::vector<std::string> RegisteredPrograms() {
    std::vector<std::string> programs;
    for (const RegistryPlace& place : SearchPlaces()) {
        std::wstring path;
        std::set<std::string> asked;
        for (const Browser& browser : kBrowsers) {
            if (asked.insert(browser.program).second &&
                ReadRegistryString(place.root, Utf8ToWide(std::string(kAppPaths) + browser.program),
                                   nullptr, path, place.view))
                programs.push_back(ProgramOf(WideToUtf8(path)));
        }
        std::vector<std::wstring> clients;
        ReadRegistrySubkeyNames(place.root, Utf8ToWide(kStartMenuInternet), clients, place.view);
        for (const std::wstring& client : clients) {
            if (ReadRegistryString(
                    place.root,
                    Utf8ToWide(kStartMenuInternet) + L"\\" + client + L"\\shell\\open\\command",
                    nullptr, path, place.view))
                programs.push_back(ProgramOf(WideToUtf8(path)));
        }
    }
    return programs;
}

// The program of `browser` among those Windows knows, or empty.
std::string InstalledProgram(const Browser& browser, const std::vector<std::string>& programs) {
    for (const std::string& program : programs) {
        const std::string path = Lower(program);
        const std::string parts = browser.pathPart;
        for (size_t start = 0;;) {
            const size_t end = parts.find('|', start);
            if (path.find(parts.substr(start, end - start)) != std::string::npos)
                return program;
            if (end == std::string::npos)
                break;
            start = end + 1;
        }
    }
    return "";
}

// --- The host ----------------------------------------------------------------

// What the manifest says, as the browser reads it.
struct ManifestReading {
    std::string problem;               // why the browser would refuse it; empty when it would not
    std::string program;               // "path", as written
    std::vector<std::string> ours;     // our extensions it allows
    std::vector<std::string> missing;  // those it lacks
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
    const auto allowedList = manifest.find(AllowedKey(browser));
    for (const std::string& ours : OurExtensions(browser)) {
        bool allowed = false;
        if (allowedList != manifest.end() && allowedList->is_array()) {
            for (const nlohmann::json& entry : *allowedList)
                allowed = allowed || (entry.is_string() && entry == ours);
        }
        (allowed ? reading.ours : reading.missing).push_back(ours);
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

std::string PlaceName(const HostKeyFound& key) {
    if (key.user)
        return "HKCU";
    if (!TwoRegistryViews())
        return "HKLM";
    return key.view == KEY_WOW64_32KEY ? "HKLM (32-bit view)" : "HKLM (64-bit view)";
}

// The keys `browser` reads, as a sentence's object.
std::string KeysRead(const Browser& browser) {
    std::string text = "HKCU or HKLM\\" + WideToUtf8(HostKey(browser.makers[0]));
    std::vector<std::string> others;
    for (size_t i = 1; i < 3 && browser.makers[i] != nullptr; ++i)
        others.push_back(browser.makers[i]);
    if (!others.empty())
        text += ", nor the same below " + Listed(others, " or ");
    return text;
}

// The manifest, its program and our extension in it.
void CheckManifest(const Browser& browser, const std::string& manifest,
                   std::vector<Finding>& findings) {
    const std::string name = browser.name;
    const std::string manifestSubject = name + " host manifest";
    std::string text;
    if (manifest.empty() || !ReadSmallFile(manifest, kMaxManifestBytes, text)) {
        findings.push_back({Finding::kProblem, manifestSubject,
                            (manifest.empty() ? std::string("the key names no file")
                                              : manifest + " cannot be read") +
                                ": " + name + " cannot start the host",
                            kRegisterFix});
        return;
    }
    const ManifestReading reading = ReadManifest(browser, text);
    if (!reading.problem.empty()) {
        findings.push_back({Finding::kProblem, manifestSubject,
                            manifest + " " + reading.problem + ": " + name + " refuses it",
                            "put back the release's manifest, or " + std::string(kRegisterFix)});
        return;
    }
    findings.push_back({Finding::kOk, manifestSubject, manifest + " is readable", ""});

    const std::string program = ProgramPath(manifest, reading.program);
    if (!FileExists(program)) {
        findings.push_back(
            {Finding::kProblem, name + " host program",
             program + " (named by the manifest) does not exist",
             "put the host back beside its manifest, or " + std::string(kRegisterFix)});
    } else {
        const std::string off = SwitchState(program);
        findings.push_back(
            {off.empty() ? Finding::kOk : Finding::kWarning, name + " host program",
             program + (off.empty() ? "" : "; " + off + ": downloads stay with the browser"),
             off.empty() ? "" : std::string("set ") + kBrowsersSwitchKey + "=1."});
    }

    if (reading.missing.empty()) {
        findings.push_back({Finding::kOk, name + " extension",
                            "the manifest allows our extension (" + Listed(reading.ours) + ")",
                            ""});
    } else {
        findings.push_back(
            {reading.ours.empty() ? Finding::kProblem : Finding::kWarning, name + " extension",
             std::string("the manifest's \"") + AllowedKey(browser) + "\" lacks " +
                 Listed(reading.missing) + ": " + name + " refuses our extension the host" +
                 (reading.ours.empty() ? "" : " when installed by that ID"),
             "put back the release's manifest."});
    }
}

// `userLevelOff` names the policy that turns hosts registered for the user
// off; empty when none does.
void CheckBrowserHost(const Browser& browser, const std::string& program,
                      const std::string& userLevelOff, std::set<std::string>& manifestsChecked,
                      std::vector<Finding>& findings) {
    const bool userLevel = userLevelOff.empty();
    const std::string name = browser.name;
    const std::string subject = name + " host";
    const std::vector<HostKeyFound> keys = FindHostKeys(browser);
    const auto used = std::find_if(keys.begin(), keys.end(),
                                   [&](const HostKeyFound& key) { return userLevel || !key.user; });
    if (used == keys.end()) {
        const std::string why =
            keys.empty() ? "not registered (no " + KeysRead(browser) + ")"
                         : "registered for the user alone, and NativeMessagingUserLevelHosts (" +
                               userLevelOff + ") turns hosts registered for the user off";
        if (!keys.empty() || !program.empty()) {
            findings.push_back(
                {Finding::kProblem, subject,
                 why + ": " + name + " cannot start the host, and every download stays with it",
                 keys.empty() ? std::string(kRegisterFix)
                              : "install the package, which registers the host "
                                "for the machine."});
        } else {
            findings.push_back({Finding::kOk, subject,
                                why + ", and " + name + " is not installed (no App Paths\\" +
                                    browser.program + " or StartMenuInternet entry)",
                                ""});
        }
        return;
    }
    const std::string manifest = WideToUtf8(used->manifest);
    // A browser that reads another's key shares its manifest, checked once.
    const bool checkedBefore =
        !manifestsChecked.insert(Lower(manifest)).second && browser.ownKeyParents < 0;
    findings.push_back({Finding::kOk, subject,
                        "uses " + PlaceName(*used) + "\\" + WideToUtf8(HostKey(used->maker)) +
                            " (" + std::to_string(keys.size()) + " found; " +
                            (userLevel ? "the user's first, then the machine's"
                                       : "NativeMessagingUserLevelHosts turns the user's off") +
                            "), naming " + (manifest.empty() ? "nothing" : manifest) +
                            (checkedBefore ? ", checked above" : ""),
                        ""});
    if (!checkedBefore)
        CheckManifest(browser, manifest, findings);
}

void AddPolicyFindings(const Browser& browser, const std::vector<PolicyFinding>& found,
                       std::vector<Finding>& findings) {
    const std::string subject = std::string(browser.name) + " policy";
    for (const PolicyFinding& policy : found) {
        findings.push_back({policy.problem ? Finding::kProblem : Finding::kWarning, subject,
                            policy.found, policy.fix});
    }
    if (found.empty()) {
        findings.push_back({Finding::kOk, subject,
                            std::string("none stops the host or our extension (HKLM and HKCU\\") +
                                browser.policies + ")",
                            ""});
    }
}

// The settings an administrator set for our extension: shown when there
// are any, with each the browser drops.
void AddManagedFindings(const Browser& browser, const ManagedSettings& settings,
                        std::vector<Finding>& findings) {
    const std::string subject = std::string(browser.name) + " managed settings";
    const ManagedReport report = ManagedSettingsReport(settings);
    if (!report.set.empty())
        findings.push_back({Finding::kOk, subject, report.set, ""});
    for (const PolicyFinding& dropped : report.dropped)
        findings.push_back({Finding::kWarning, subject, dropped.found, dropped.fix});
}

}  // namespace

void CheckExtensionBrowsers(std::vector<Finding>& findings) {
    const std::vector<std::string> programs = RegisteredPrograms();
    std::vector<std::string> installed, missing;
    for (const Browser& browser : kBrowsers)
        (InstalledProgram(browser, programs).empty() ? missing : installed).push_back(browser.name);
    findings.push_back({Finding::kOk, "browsers",
                        (installed.empty() ? std::string("none") : Listed(installed)) +
                            " installed (App Paths, StartMenuInternet); not found: " +
                            (missing.empty() ? std::string("none") : Listed(missing)),
                        ""});

    std::set<std::string> manifestsChecked;
    for (const Browser& browser : kBrowsers) {
        const std::string program = InstalledProgram(browser, programs);
        // The browsers whose own keys we write always get their rows; the
        // others, which read Chrome's, only where they are installed.
        if (program.empty() && browser.ownKeyParents < 0)
            continue;
        if (browser.gecko) {
            CheckBrowserHost(browser, program, "", manifestsChecked, findings);
            const FirefoxPolicies policies = ReadFirefoxPolicies(browser.policies, program);
            AddPolicyFindings(browser, FirefoxPolicyFindings(policies, kFirefoxExtensionId),
                              findings);
            AddManagedFindings(browser, policies.managed, findings);
            continue;
        }
        const ChromiumPolicies policies = ReadChromiumPolicies(browser.policies);
        CheckBrowserHost(browser, program,
                         UserLevelHostsAllowed(policies) ? "" : policies.userLevelHosts.where,
                         manifestsChecked, findings);
        if (browser.policies != nullptr) {
            AddPolicyFindings(browser,
                              ChromiumPolicyFindings(browser.name, policies, kNativeHostName,
                                                     ChromiumExtensionIds()),
                              findings);
            for (const ManagedSettings& settings : policies.managed)
                AddManagedFindings(browser, settings, findings);
        }
    }
}

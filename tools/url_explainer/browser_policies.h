#pragma once

// The enterprise policies that stop a browser from starting our native
// messaging host or from installing our extension, as the browser takes them,
// each with its fix. The check reads them (the registry, Firefox's
// policies.json); deciding needs no platform.

#include <string>
#include <vector>

// One policy as the browser takes it: the machine's when set there, else the
// user's. A list's entries, a DWORD in decimal, a JSON policy's text.
struct PolicyValue {
    std::string name;   // as set: "NativeMessagingBlocklist" or its older name
    std::string where;  // "HKLM\Software\Policies\Google\Chrome"; empty when not set
    std::vector<std::string> entries;
    std::string text;
    bool Set() const { return !where.empty(); }
};

// One of our extension's settings as an administrator set it (the
// extension's managed storage): a registry value, a list's subkey, or a
// member of policies.json.
struct ManagedValue {
    enum Kind { kBoolean, kNumber, kString, kList, kOther };
    std::string name;
    Kind kind = kOther;
    std::string text;                  // a boolean's or a number's decimal ("1"), a string
    std::vector<std::string> entries;  // a list's
    std::string where;                 // "HKLM", "HKCU", or policies.json's path
};

// The settings set for one of our IDs, in the place the browser reads them
// (Chromium: <policies>\3rdparty\extensions\<id>\policy; Firefox:
// <policies>\3rdparty\Extensions\<id>, or policies.json's "3rdparty").
struct ManagedSettings {
    std::string id;
    std::string key;
    std::vector<ManagedValue> values;  // none when nothing is set
};

struct ChromiumPolicies {
    PolicyValue userLevelHosts;  // NativeMessagingUserLevelHosts
    PolicyValue hostBlocklist, hostAllowlist;
    PolicyValue installBlocklist, installAllowlist, installForcelist;
    PolicyValue extensionSettings;
    PolicyValue blockExternal;             // BlockExternalExtensions
    std::vector<ManagedSettings> managed;  // one per ID of ours
};

struct FirefoxPolicies {
    PolicyValue extensionSettings;  // as JSON, from the registry or policies.json
    PolicyValue uninstall;          // Extensions\Uninstall
    ManagedSettings managed;
};

struct PolicyFinding {
    bool problem;  // otherwise a warning
    std::string found;
    std::string fix;
};

// Whether the browser reads hosts registered for the user.
bool UserLevelHostsAllowed(const ChromiumPolicies& policies);

// What stops `browser` from starting the host `hostName`, or from installing
// our extension by any of `ids` (a problem when every one is stopped, a
// warning when some are).
std::vector<PolicyFinding> ChromiumPolicyFindings(const std::string& browser,
                                                  const ChromiumPolicies& policies,
                                                  const std::string& hostName,
                                                  const std::vector<std::string>& ids);
// What stops Firefox from keeping the add-on `id`.
std::vector<PolicyFinding> FirefoxPolicyFindings(const FirefoxPolicies& policies,
                                                 const std::string& id);

// The settings an administrator set for our extension, as the extension
// takes them: one line of what is set, and a warning for each value the
// browser drops against the extension's schema (extension/managed_schema.json)
// or the extension does not know.
struct ManagedReport {
    std::string set;  // empty when nothing is
    std::vector<PolicyFinding> dropped;
};
ManagedReport ManagedSettingsReport(const ManagedSettings& settings);

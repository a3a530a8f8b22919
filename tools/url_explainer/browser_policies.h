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

struct ChromiumPolicies {
    PolicyValue userLevelHosts;  // NativeMessagingUserLevelHosts
    PolicyValue hostBlocklist, hostAllowlist;
    PolicyValue installBlocklist, installAllowlist, installForcelist;
    PolicyValue extensionSettings;
};

struct FirefoxPolicies {
    PolicyValue extensionSettings;  // as JSON, from the registry or policies.json
    PolicyValue uninstall;          // Extensions\Uninstall
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

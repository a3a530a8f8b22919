#include "tools/url_explainer/browser_policies.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <utility>

namespace {

bool Names(const PolicyValue& list, const std::string& entry) {
    return std::find(list.entries.begin(), list.entries.end(), entry) != list.entries.end();
}

// A force-installed extension is exempt from the block list; an entry is
// "<id>;<update URL>" or the ID alone.
bool ForceInstalls(const PolicyValue& list, const std::string& id) {
    for (const std::string& entry : list.entries) {
        if (entry.substr(0, entry.find(';')) == id)
            return true;
    }
    return false;
}

std::string Named(const PolicyValue& policy) {
    return policy.name + " (" + policy.where + ")";
}

// The "installation_mode" ExtensionSettings gives `key`, an ID or "*".
std::string InstallationMode(const PolicyValue& settings, const std::string& key) {
    if (!settings.Set())
        return "";
    const nlohmann::json all = nlohmann::json::parse(settings.text, nullptr, false);
    const auto entry = all.is_object() ? all.find(key) : all.end();
    if (entry == all.end() || !entry->is_object())
        return "";
    const auto mode = entry->find("installation_mode");
    return mode != entry->end() && mode->is_string() ? mode->get<std::string>() : "";
}

bool Blocks(const std::string& mode) {
    return mode == "blocked" || mode == "removed";
}

std::string Listed(const std::vector<std::string>& ids) {
    std::string text;
    for (const std::string& id : ids)
        text += (text.empty() ? "" : ", ") + id;
    return text;
}

// Why Chromium refuses to install an extension, empty when it does not.
struct Refusal {
    std::string why;
    bool bySettings = false;  // ExtensionSettings', not one of the older lists'
};

// The extension's own ExtensionSettings entry comes first, then its own
// entries of the older lists, then the defaults for every extension ("*").
Refusal InstallRefusal(const ChromiumPolicies& policies, const std::string& id) {
    const PolicyValue& settings = policies.extensionSettings;
    for (const std::string& key : {id, std::string("*")}) {
        const std::string mode = InstallationMode(settings, key);
        if (!mode.empty()) {
            if (!Blocks(mode))
                return {};
            return {Named(settings) + " sets \"installation_mode\": \"" + mode + "\" for " +
                        (key == id ? std::string("it") : "\"*\""),
                    true};
        }
        if (key != id)
            break;
        if (ForceInstalls(policies.installForcelist, id) || Names(policies.installAllowlist, id))
            return {};
        if (Names(policies.installBlocklist, id))
            return {Named(policies.installBlocklist) + " names it"};
    }
    if (Names(policies.installBlocklist, "*"))
        return {Named(policies.installBlocklist) + " names \"*\""};
    return {};
}

}  // namespace

bool UserLevelHostsAllowed(const ChromiumPolicies& policies) {
    return !policies.userLevelHosts.Set() || policies.userLevelHosts.text != "0";
}

std::vector<PolicyFinding> ChromiumPolicyFindings(const std::string& browser,
                                                  const ChromiumPolicies& policies,
                                                  const std::string& hostName,
                                                  const std::vector<std::string>& ids) {
    std::vector<PolicyFinding> findings;
    const PolicyValue& blocklist = policies.hostBlocklist;
    for (const std::string& entry : {std::string("*"), hostName}) {
        if (Names(policies.hostAllowlist, hostName) || !Names(blocklist, entry))
            continue;
        findings.push_back({true,
                            Named(blocklist) + " names \"" + entry + "\": " + browser +
                                " refuses to start our host",
                            entry == "*" ? "ask your administrator to add " + hostName +
                                               " to NativeMessagingAllowlist."
                                         : "ask your administrator to take " + hostName +
                                               " out of " + blocklist.name + "."});
        break;
    }

    // Each refusal once, with the IDs it refuses, in the order of `ids`.
    std::vector<std::pair<Refusal, std::vector<std::string>>> refusals;
    std::vector<std::string> installable;
    for (const std::string& id : ids) {
        const Refusal refusal = InstallRefusal(policies, id);
        auto same = std::find_if(refusals.begin(), refusals.end(),
                                 [&](const auto& other) { return other.first.why == refusal.why; });
        if (refusal.why.empty())
            installable.push_back(id);
        else if (same == refusals.end())
            refusals.push_back({refusal, {id}});
        else
            same->second.push_back(id);
    }
    if (policies.blockExternal.Set() && policies.blockExternal.text != "0") {
        findings.push_back(
            {false,
             Named(policies.blockExternal) + " is " + policies.blockExternal.text + ": " + browser +
                 " ignores the packages' offer of our extension",
             "install the extension from its store, or ask your administrator to install it "
             "by ExtensionInstallForcelist."});
    }
    for (const auto& [refusal, refused] : refusals) {
        findings.push_back(
            {installable.empty(),
             refusal.why + ": " + browser + " refuses our extension (" + Listed(refused) + ")" +
                 (installable.empty() ? "" : "; " + Listed(installable) + " it allows"),
             refusal.bySettings
                 ? "ask your administrator to set \"installation_mode\": \"allowed\" for " +
                       Listed(refused) + " in ExtensionSettings."
                 : "ask your administrator to add " + Listed(refused) +
                       " to ExtensionInstallAllowlist, or to install it by "
                       "ExtensionInstallForcelist."});
    }
    return findings;
}

namespace {

bool Valid(const ManagedValue& value) {
    if (value.name == "paused")
        return value.kind == ManagedValue::kBoolean ||
               (value.kind == ManagedValue::kNumber && (value.text == "0" || value.text == "1"));
    if (value.name == "minimumSizeBytes")
        return value.kind == ManagedValue::kNumber;
    if (value.name == "bypassKey") {
        return value.kind == ManagedValue::kString &&
               (value.text == "alt" || value.text == "shift" || value.text == "ctrl" ||
                value.text == "none");
    }
    return value.kind == ManagedValue::kList;  // skippedSites
}

const char* const kManagedNames[] = {"paused", "skippedSites", "minimumSizeBytes", "bypassKey"};

const char* Expected(const std::string& name) {
    if (name == "paused")
        return "1 or 0 (a DWORD), or true or false";
    if (name == "minimumSizeBytes")
        return "a number of bytes (a DWORD)";
    if (name == "bypassKey")
        return "\"alt\", \"shift\", \"ctrl\" or \"none\"";
    return "a list of host names (a subkey of values 1, 2, ... or a JSON array)";
}

std::string Shown(const ManagedValue& value) {
    switch (value.kind) {
        case ManagedValue::kBoolean:
            return value.text == "1" ? "true" : "false";
        case ManagedValue::kNumber:
            return value.text;
        case ManagedValue::kString:
            return "\"" + value.text + "\"";
        case ManagedValue::kList:
            return "[" + Listed(value.entries) + "]";
        default:
            return "a value of another type";
    }
}

}  // namespace

ManagedReport ManagedSettingsReport(const ManagedSettings& settings) {
    ManagedReport report;
    for (const ManagedValue& value : settings.values) {
        const std::string said = value.name + " " + Shown(value) + " (" + value.where + ")";
        const bool known = std::find(std::begin(kManagedNames), std::end(kManagedNames),
                                     value.name) != std::end(kManagedNames);
        if (known && Valid(value)) {
            report.set += (report.set.empty() ? "" : ", ") + said;
        } else if (known) {
            report.dropped.push_back(
                {false,
                 settings.key + ": " + said + " is not " + Expected(value.name) +
                     ": the browser drops it, and the user's own setting applies",
                 "set " + value.name + " to " + Expected(value.name) + "."});
        } else {
            report.dropped.push_back(
                {false, settings.key + ": " + said + " is no setting of our extension",
                 "use paused, skippedSites, minimumSizeBytes or bypassKey "
                 "(the templates in the release's policy folder)."});
        }
    }
    if (!report.set.empty())
        report.set = "for " + settings.id + ", set by your organization in " + settings.key + ": " +
                     report.set;
    return report;
}

std::vector<PolicyFinding> FirefoxPolicyFindings(const FirefoxPolicies& policies,
                                                 const std::string& id) {
    std::vector<PolicyFinding> findings;
    const std::string own = InstallationMode(policies.extensionSettings, id);
    const std::string every = InstallationMode(policies.extensionSettings, "*");
    if (own == "blocked" || (own.empty() && every == "blocked")) {
        findings.push_back(
            {true,
             Named(policies.extensionSettings) + " sets \"installation_mode\": \"blocked\" for " +
                 (own.empty() ? std::string("\"*\"") : id) + ": Firefox refuses our add-on (" + id +
                 ")",
             "ask your administrator to set \"installation_mode\": \"allowed\" for " + id +
                 " in ExtensionSettings."});
    }
    if (Names(policies.uninstall, id)) {
        findings.push_back(
            {true,
             Named(policies.uninstall) + " names " + id +
                 ": Firefox removes our add-on at every start",
             "ask your administrator to take " + id + " out of " + policies.uninstall.name + "."});
    }
    return findings;
}

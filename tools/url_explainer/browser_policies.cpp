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

#include "handoff/policy_decision.h"

const char* SwitchKeyOf(PolicyRoad road) noexcept {
    return road == PolicyRoad::kLibrary ? kSwitchKey : kBrowsersSwitchKey;
}

PolicyDecision DecidePolicy(PolicyRoad road, const std::string& url, const std::string& fileName,
                            PolicySettings& settings) {
    PolicyDecision decision;
    decision.road = road;
    // A URL is a zero-terminated string where the library meets it.
    decision.scheme = FindSupportedScheme(url.c_str());
    if (decision.scheme == nullptr) {
        decision.reason = PolicyDecision::kUnsupportedScheme;
        return decision;
    }
    if (road == PolicyRoad::kUserAsked) {
        decision.reason = PolicyDecision::kAllowed;
        decision.allows = true;
        return decision;
    }
    if (!settings.Locate()) {
        decision.reason = PolicyDecision::kNoSettings;
        return decision;
    }
    decision.switchRead = true;
    decision.switchValue = settings.SwitchValue(road);
    if (!IsSwitchOn(decision.switchValue)) {
        decision.reason = PolicyDecision::kSwitchOff;
        return decision;
    }
    decision.listRead = true;
    decision.list = settings.ExtensionList();

    // A "corvane://" link is taken whatever its name: ExplainExtension sees
    // the URL for that.
    decision.extensionFromFileName =
        road == PolicyRoad::kBrowsers && !fileName.empty() &&
        ExplainExtension(url.c_str(), "").reason != ExtensionVerdict::kCorvaneLink;
    decision.extensionSubject = decision.extensionFromFileName ? fileName : url;
    decision.extension = ExplainExtension(decision.extensionSubject.c_str(), decision.list.c_str());
    decision.allows = decision.extension.matches;
    decision.reason = decision.allows ? PolicyDecision::kAllowed : PolicyDecision::kNotInList;
    return decision;
}

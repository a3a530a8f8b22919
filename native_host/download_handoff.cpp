#include "native_host/download_handoff.h"

#include "common/string_conversion.h"
#include "handoff/agent_client.h"
#include "handoff/handoff_policy.h"
#include "native_host/offer_window.h"
#include "native_host/reply_reasons.h"

static_assert(kUndatedOfferMs == kOfferBoundMs,
              "a message without a deadline gets the library's bound");

namespace {

// As the library cuts a link's text for the agent.
constexpr std::size_t kMaxLinkTextBytes = 1023;

ReplyReason ReasonOf(OfferOutcome outcome) {
    switch (outcome) {
        case OfferOutcome::kTaken:
            return ReplyReason::kTaken;
        case OfferOutcome::kUnreachable:
            return ReplyReason::kUnreachable;
        case OfferOutcome::kTimedOut:
            return ReplyReason::kTimedOut;
        case OfferOutcome::kBusy:
            return ReplyReason::kBusy;
        case OfferOutcome::kDeclined:
            break;
    }
    return ReplyReason::kDeclined;
}

}  // namespace

Reply DownloadHandOff::Handle(const DownloadMessage& message, const OfferTerms& terms) {
    const PolicyDecision decision =
        DecideHandOff(message.userAsked ? PolicyRoad::kUserAsked : PolicyRoad::kBrowsers,
                      message.url, message.fileName);
    if (!decision.allows)
        return RefusalReply(decision);

    // The browser's strings as it gave them; the message's UTF-8 was checked
    // when it was read, so the conversion is exact.
    AgentTask task;
    task.url = Utf8ToWide(message.url);
    task.comment = Utf8ToWide(
        message.linkText.substr(0, WholeCharacterPrefix(message.linkText, kMaxLinkTextBytes)));
    task.referrer = Utf8ToWide(message.referrer);
    task.cookie = Utf8ToWide(message.cookie);
    const LateReply late = terms.late;
    const OfferOutcome outcome =
        OfferTaskToAgent(std::move(task), terms.boundMs, [late](bool taken) { late.Ended(taken); });
    return OfferReply(ReasonOf(outcome), terms.boundMs);
}

HostSettings DownloadHandOff::Settings() {
    HostSettings settings;
    std::wstring path;
    // A folder too deep for the file: the decision reads nothing and offers
    // nothing.
    if (!ConfigurationPath(path))
        return settings;
    const SettingSources sources = ReadSettingSources(path, PolicyRoad::kBrowsers);
    const int switchValue = ReadSwitchValue(path, kBrowsersSwitchKey);
    if (sources.switchFromFile)
        settings.monitorBrowsers = switchValue;
    settings.switchOn = IsSwitchOn(switchValue);
    settings.extensionList = ReadExtensionList(path);
    settings.configFile = WideToUtf8(path);
    settings.configFound = sources.fileExists;
    return settings;
}

#include "native_host/reply_reasons.h"

#include <string>

namespace {

// "5" or "11.5": tenths where there are any.
std::string Seconds(std::uint32_t ms) {
    const std::uint32_t tenths = (ms + 50) / 100;
    return std::to_string(tenths / 10) +
           (tenths % 10 != 0 ? "." + std::to_string(tenths % 10) : std::string());
}

}  // namespace

Reply RefusalReply(const PolicyDecision& decision) {
    Reply reply;
    switch (decision.reason) {
        case PolicyDecision::kUnsupportedScheme:
            reply.reason = ReplyReason::kScheme;
            reply.detail = decision.road == PolicyRoad::kUserAsked
                               ? "The link's address is not one the download manager can fetch "
                                 "(such as blob:, data: or file:)."
                               : "The download's address is not one the download manager can "
                                 "fetch (such as blob:, data: or file:), so the browser keeps it.";
            break;
        case PolicyDecision::kNoSettings:
            // Nothing is offered when the settings cannot be found, as when
            // they turn it off.
            reply.reason = ReplyReason::kSwitchOff;
            reply.detail =
                "The host's folder is too deep for its UserConfig.ini to be read, so nothing is "
                "handed over.";
            break;
        case PolicyDecision::kSwitchOff:
            reply.reason = ReplyReason::kSwitchOff;
            reply.detail = std::string("Handing downloads over is turned off: ") +
                           kBrowsersSwitchKey + "=" + std::to_string(decision.switchValue) +
                           " in UserConfig.ini (1 turns it on).";
            break;
        case PolicyDecision::kNotInList:
        case PolicyDecision::kAllowed:
            reply.reason = ReplyReason::kNotInList;
            reply.detail = decision.extension.candidate.empty()
                               ? "The file has no extension the list could hold."
                               : "The file's extension \"" +
                                     decision.extension.candidate.substr(
                                         0, decision.extension.candidate.size() - 1) +
                                     "\" is not in the ExtendNames list of UserConfig.ini.";
            break;
    }
    return reply;
}

Reply OfferReply(ReplyReason outcome, std::uint32_t boundMs) {
    Reply reply;
    reply.reason = outcome;
    switch (outcome) {
        case ReplyReason::kTaken:
            reply.detail = "The download manager took the download.";
            break;
        case ReplyReason::kUnreachable:
            reply.detail =
                "The download manager could not be reached: it is not installed or did not "
                "start.";
            break;
        case ReplyReason::kTimedOut:
            reply.detail = "The download manager did not answer within " + Seconds(boundMs) +
                           " seconds, so the browser keeps the download.";
            break;
        case ReplyReason::kBusy:
            reply.detail =
                "An earlier download still waits for the download manager, which has not "
                "answered; the browser keeps this one.";
            break;
        default:
            reply.reason = ReplyReason::kDeclined;
            reply.detail = "The download manager declined the download.";
            break;
    }
    return reply;
}

Reply NotAskedReply() {
    Reply reply;
    reply.reason = ReplyReason::kNoTime;
    reply.detail =
        "Too little of the browser's wait was left to ask the download manager, which may need "
        "seconds to start, so the browser keeps the download.";
    return reply;
}

Reply TakenLateReply() {
    Reply reply;
    reply.reason = ReplyReason::kTaken;
    reply.late = true;
    reply.detail =
        "The download manager took the download after the browser had stopped waiting for it: "
        "the browser has kept it too.";
    return reply;
}

#pragma once

// What the host tells the extension, and through it the user, when a
// download stays with the browser: the policy's reason or how the offer to
// the download agent ended.

#include "handoff/policy_decision.h"
#include "native_host/message.h"

#include <cstdint>

// The reply to a decision; "taken" is left to the offer.
Reply RefusalReply(const PolicyDecision& decision);

// The reply once the agent was asked, for at most `boundMs`: kTaken,
// kDeclined, kUnreachable, kTimedOut or kBusy.
Reply OfferReply(ReplyReason outcome, std::uint32_t boundMs);

// "no-time" for a message whose deadline left too little time to ask the
// agent: not the agent's fault, so the extension need not suspect it.
Reply NotAskedReply();

// The second reply, "taken" and late, once the agent took a download whose
// offer was answered "timed-out".
Reply TakenLateReply();

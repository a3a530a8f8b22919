#pragma once

// One download from the browser through the hand-off: the policy on the
// browsers' road (the user's, for a link the user sent), then the download
// agent, within the message's terms. The offer runs on the bounded-call
// layer's worker: one past its bound goes on there until the agent answers,
// and reports its late end itself (the record, and a late "taken"). The settings the policy reads,
// told as it reads them.

#include "native_host/host_loop.h"

class DownloadHandOff final : public MessageHandler {
  public:
    Reply Handle(const DownloadMessage& message, const OfferTerms& terms) override;
    HostSettings Settings() override;
};

#pragma once

// One download from the browser through the hand-off: the policy on the
// browsers' road, then the download agent.

#include "native_host/host_loop.h"

class DownloadHandOff final : public MessageHandler {
  public:
    Reply Handle(const DownloadMessage& message) override;
};

// An offer past its bound still runs on a thread of its own until the agent
// answers. Before the host ends it waits up to `maxMs` for such offers: an
// agent whose client process ended inside a call is never let go under Wine.
void WaitForLateOffers(unsigned long maxMs) noexcept;

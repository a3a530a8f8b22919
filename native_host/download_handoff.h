#pragma once

// One download from the browser through the hand-off: the policy on the
// browsers' road, then the download agent.

#include "native_host/host_loop.h"

class DownloadHandOff final : public MessageHandler {
  public:
    Reply Handle(const DownloadMessage& message) override;
};

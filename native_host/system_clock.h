#pragma once

// The machine's clock as the extension reads it (Date.now()): deadlines are
// read against it, and records are stamped with it.

#include "native_host/host_loop.h"

class SystemClock final : public Clock {
  public:
    std::int64_t NowMs() override;
};

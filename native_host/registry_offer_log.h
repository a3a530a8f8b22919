#pragma once

// The record of recent offers in this user's registry: one value per offer
// under kOfferLogKey, named by the offer ("41 1765270012000") and holding its
// state and time ("taken 1765270001234"). Every host of the user's browsers
// writes there at once, and none needs a lock: each value is written whole
// by one call, and a record one host lets go of another may already have.

#include "native_host/offer_log.h"
#include "native_host/system_clock.h"

// Under HKEY_CURRENT_USER.
extern const wchar_t kOfferLogKey[];

class RegistryOfferLog final : public OfferLog {
  public:
    void Write(const OfferKey& key, OfferState state) noexcept override;
    std::vector<OfferRecord> Read() noexcept override;
    bool Forget(const OfferKey& key) noexcept override;

  private:
    // Deletes the records past their time or past the bound on number, and
    // any value that is not a record.
    void LetGoOfStale(std::int64_t nowMs) noexcept;

    SystemClock clock_;
};

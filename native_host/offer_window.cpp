#include "native_host/offer_window.h"

std::uint32_t OfferWindowMs(const std::optional<std::int64_t>& deadline, std::int64_t nowMs) {
    if (!deadline)
        return kUndatedOfferMs;
    // Compared before subtracting: a deadline may be any 64-bit number.
    if (*deadline >= nowMs + kReplyMarginMs + kLongestOfferMs)
        return kLongestOfferMs;
    if (*deadline < nowMs + kReplyMarginMs + kShortestOfferMs)
        return 0;
    return static_cast<std::uint32_t>(*deadline - nowMs - kReplyMarginMs);
}

#pragma once

// How long the host may wait for the download agent over one message. The
// extension holds the download until the message's deadline and then lets
// the browser keep it: an offer that ends after that would leave the file in
// two places, so the offer ends, answered, a margin before it.

#include <cstdint>
#include <optional>

// Without a deadline: the library's own bound, from the message's reading.
constexpr std::uint32_t kUndatedOfferMs = 5000;
// For the reply to reach the extension and the extension to act on it.
constexpr std::int64_t kReplyMarginMs = 500;
// What an agent that is not running needs to start and answer: about 1 s
// under Wine on a quiet machine; medians of 1.8 to 3.1 s, the slowest 3.4 s,
// on two cores loaded ten times over. An offer given less would be given up
// while the agent starts, and the agent's answer would come after the
// browser kept the download: two places, and every later offer "busy"
// until it came. With less time left the download stays with the browser
// unasked.
constexpr std::uint32_t kShortestOfferMs = 3000;
// However far off a deadline says the browser waits.
constexpr std::uint32_t kLongestOfferMs = 30000;

// The offer's bound for a message read at `nowMs` (milliseconds since the
// Unix epoch, from a clock: far from the limits of 64 bits); 0 when the
// agent must not be asked at all.
std::uint32_t OfferWindowMs(const std::optional<std::int64_t>& deadline, std::int64_t nowMs);

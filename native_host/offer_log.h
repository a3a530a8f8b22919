#pragma once

// What became of each recent offer, kept by the host apart from the browser.
// The browser lets a held download go when the extension's worker stops (or
// Firefox suspends its event page) while the offer is with the host; the
// answer then reaches nobody, and the agent may still take the download. The
// next worker asks the host, and removes the browser's copy of what the agent
// took. So the record is written before the agent is asked and again when it
// answers: a host stopped in between leaves "asking", which says the agent
// may have taken it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One offer as the extension tells it apart: its id and its deadline, as the
// message gave them (the deadline, to the millisecond, keeps two browsers'
// or two sessions' equal ids apart).
struct OfferKey {
    std::string idText;                    // the id as JSON text
    std::optional<std::int64_t> deadline;  // none when the message had none
};
bool operator==(const OfferKey& a, const OfferKey& b);

enum class OfferState {
    kAsking,  // the agent was asked and has not answered (or the host stopped first)
    kTaken,   // the agent took it, within the offer's bound or after it
    kKept,    // the agent did not take it: the browser's copy is the only one
};

struct OfferRecord {
    OfferKey key;
    OfferState state = OfferState::kAsking;
    std::int64_t at = 0;  // when the state was written: ms since the Unix epoch
};

// The store is per user and stays small and short-lived: the next worker asks
// within seconds of a stop, or at the browser's next start.
constexpr std::size_t kKeptOfferRecords = 64;
constexpr std::int64_t kOfferRecordLifeMs = 24 * 60 * 60 * 1000;

// Where the records are kept. Every member may be called from any thread;
// none throws (a store that cannot be written keeps nothing).
class OfferLog {
  public:
    virtual ~OfferLog() = default;
    // Writes the state, time-stamped, over any earlier one of `key`, and
    // lets go of records past the bounds.
    virtual void Write(const OfferKey& key, OfferState state) noexcept = 0;
    virtual std::vector<OfferRecord> Read() noexcept = 0;
    // True when there was such a record.
    virtual bool Forget(const OfferKey& key) noexcept = 0;
};

// The record's name in a store of names and texts: "41 1765270012000", or
// "41" without a deadline; and back.
std::string RecordName(const OfferKey& key);
bool KeyFromRecordName(const std::string& name, OfferKey& key);

// Its text there: "taken 1765270001234"; and back.
std::string RecordText(OfferState state, std::int64_t at);
bool RecordFromText(const std::string& text, OfferState& state, std::int64_t& at);

// The records a store lets go of at `nowMs` (far from the limits of 64
// bits): those older than kOfferRecordLifeMs, then all but the
// kKeptOfferRecords newest.
std::vector<OfferKey> StaleRecords(std::vector<OfferRecord> records, std::int64_t nowMs);

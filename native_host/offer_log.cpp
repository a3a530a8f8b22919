#include "native_host/offer_log.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace {

const char* const kStateNames[] = {"asking", "taken", "kept"};

// The whole of `text` as a decimal number of 64 bits.
bool ParseMoment(const std::string& text, std::int64_t& moment) {
    if (text.empty() || text.size() > 20)
        return false;
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end != text.c_str() + text.size())
        return false;
    moment = value;
    return true;
}

}  // namespace

bool operator==(const OfferKey& a, const OfferKey& b) {
    return a.idText == b.idText && a.deadline == b.deadline;
}

std::string RecordName(const OfferKey& key) {
    return key.deadline ? key.idText + " " + std::to_string(*key.deadline) : key.idText;
}

bool KeyFromRecordName(const std::string& name, OfferKey& key) {
    const std::size_t space = name.find(' ');
    OfferKey read;
    read.idText = name.substr(0, space);
    if (read.idText.empty())
        return false;
    if (space != std::string::npos) {
        std::int64_t deadline = 0;
        if (!ParseMoment(name.substr(space + 1), deadline))
            return false;
        read.deadline = deadline;
    }
    key = read;
    return true;
}

std::string RecordText(OfferState state, std::int64_t at) {
    return std::string(kStateNames[static_cast<int>(state)]) + " " + std::to_string(at);
}

bool RecordFromText(const std::string& text, OfferState& state, std::int64_t& at) {
    const std::size_t space = text.find(' ');
    if (space == std::string::npos)
        return false;
    for (int i = 0; i < 3; ++i) {
        if (text.compare(0, space, kStateNames[i]) == 0 &&
            ParseMoment(text.substr(space + 1), at)) {
            state = static_cast<OfferState>(i);
            return true;
        }
    }
    return false;
}

std::vector<OfferKey> StaleRecords(std::vector<OfferRecord> records, std::int64_t nowMs) {
    std::sort(records.begin(), records.end(),
              [](const OfferRecord& a, const OfferRecord& b) { return a.at > b.at; });
    std::vector<OfferKey> stale;
    std::size_t kept = 0;
    for (const OfferRecord& record : records) {
        // A stamp a little ahead is another host's, written as this one read
        // the clock; one far ahead still counts against the bound on number.
        const bool fresh = record.at >= nowMs - kOfferRecordLifeMs;
        if (fresh && kept < kKeptOfferRecords)
            ++kept;
        else
            stale.push_back(record.key);
    }
    return stale;
}

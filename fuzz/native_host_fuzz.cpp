// Fuzzes the host's reader with the whole of stdin chosen by the input:
// frames of any length, cut anywhere, holding any bytes. Every reply must be
// a whole frame of JSON within the browser's limit, one for each frame read,
// and only a well-formed offer whose deadline leaves time may reach the
// hand-off, with a bound the host allows, no control character in its
// request and none, nor a bidirectional override, in its link's text; a
// settings reply holds the settings, its list split into entries none of
// which is empty or holds ";"; every record is of an offer with an id, and
// an outcomes reply tells no more offers than were handed off.
#include "native_host/host_loop.h"
#include "native_host/input_text.h"
#include "native_host/offer_window.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

class Input final : public ByteSource {
  public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    std::size_t Read(char* buffer, std::size_t size) override {
        // Short reads, as from a pipe, by the input's own bytes.
        std::size_t n = size < size_ ? size : size_;
        if (n > 1 && size_ > 0)
            n = 1 + data_[0] % n;
        std::memcpy(buffer, data_, n);
        data_ += n;
        size_ -= n;
        return n;
    }

  private:
    const uint8_t* data_;
    size_t size_;
};

class Output final : public ByteSink {
  public:
    std::string bytes;
    bool Write(const char* data, std::size_t size) override {
        bytes.append(data, size);
        return true;
    }
};

class Counter final : public MessageHandler {
  public:
    size_t handled = 0;
    Reply Handle(const DownloadMessage& message, const OfferTerms& terms) override {
        if (HasControlCharacter(message.url + message.cookie + message.referrer) ||
            ShownText(message.linkText) != message.linkText)
            std::abort();
        if (terms.boundMs < kShortestOfferMs || terms.boundMs > kLongestOfferMs)
            std::abort();
        ++handled;
        list = message.url;
        return Reply{"", ReplyReason::kTaken, message.url};
    }
    // The last offer's URL, as any bytes a list may hold.
    HostSettings Settings() override { return HostSettings{std::nullopt, true, list, list, false}; }

  private:
    std::string list;
};

// Holds every record written; none may lack its offer's id.
class Log final : public OfferLog {
  public:
    std::vector<OfferRecord> records;
    void Write(const OfferKey& key, OfferState state) noexcept override {
        if (key.idText.empty())
            std::abort();
        Forget(key);
        records.push_back({key, state, 0});
    }
    std::vector<OfferRecord> Read() noexcept override { return records; }
    bool Forget(const OfferKey& key) noexcept override {
        for (auto it = records.begin(); it != records.end(); ++it) {
            if (it->key == key) {
                records.erase(it);
                return true;
            }
        }
        return false;
    }
};

// The seeds' deadlines lie around this moment.
class FixedClock final : public Clock {
  public:
    std::int64_t NowMs() override { return 1765270000000; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    Output out;
    Counter handler;
    FixedClock clock;
    const auto log = std::make_shared<Log>();
    const HostExit exit = ServeFrames(in, std::make_shared<ReplyChannel>(out), handler, clock, log);
    if (exit != kHostStreamEnded && exit != kHostStreamBroken)
        std::abort();

    size_t replies = 0, taken = 0;
    for (size_t at = 0; at < out.bytes.size(); ++replies) {
        std::uint32_t length = 0;
        if (out.bytes.size() - at < sizeof length)
            std::abort();
        std::memcpy(&length, out.bytes.data() + at, sizeof length);
        if (length > kMaxReplyBytes || out.bytes.size() - at - sizeof length < length)
            std::abort();
        const nlohmann::json reply =
            nlohmann::json::parse(out.bytes.substr(at + sizeof length, length), nullptr, false);
        if (reply.is_discarded())
            std::abort();
        if (reply.contains("outcomes")) {
            // One at most per offer handed off, each as written.
            if (reply["outcomes"].size() > handler.handled)
                std::abort();
            for (const nlohmann::json& outcome : reply["outcomes"]) {
                if (!outcome.at("id").is_number() ||
                    !(outcome.at("taken").is_boolean() || outcome.at("taken").is_null()))
                    std::abort();
            }
        } else if (reply.contains("forgotten")) {
        } else if (reply.contains("settings")) {
            for (const nlohmann::json& name : reply["settings"].at("extendNames")) {
                const std::string entry = name.get<std::string>();
                if (entry.empty() || entry.find(';') != std::string::npos)
                    std::abort();
            }
        } else if (!reply.at("taken").is_boolean()) {
            std::abort();
        } else {
            taken += reply.at("taken").get<bool>();
        }
        at += sizeof length + length;
    }
    if (taken != handler.handled || replies < handler.handled)
        std::abort();
    return 0;
}

// The host's frames and messages, natively: bytes in, the replies and the
// messages the hand-off saw out, with the terms of each offer.
#include "native_host/host_loop.h"
#include "native_host/offer_window.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using nlohmann::json;

std::string Frame(const std::string& body) {
    const std::uint32_t length = static_cast<std::uint32_t>(body.size());
    std::string header(sizeof length, '\0');
    std::memcpy(&header[0], &length, sizeof length);
    return header + body;
}

std::string Header(std::uint32_t length) {
    return std::string(reinterpret_cast<const char*>(&length), sizeof length);
}

// Hands out at most 3 bytes a read, as a pipe may.
class Input final : public ByteSource {
  public:
    explicit Input(std::string bytes) : bytes_(std::move(bytes)) {}
    std::size_t Read(char* buffer, std::size_t size) override {
        const std::size_t n = std::min({size, std::size_t{3}, bytes_.size() - at_});
        std::memcpy(buffer, bytes_.data() + at_, n);
        at_ += n;
        return n;
    }

  private:
    std::string bytes_;
    std::size_t at_ = 0;
};

class Output final : public ByteSink {
  public:
    bool refuse = false;
    bool readerGone = false;
    bool yields = false;
    std::string bytes;
    bool Write(const char* data, std::size_t size) override {
        if (refuse)
            return false;
        // A byte at a time, letting other threads in: a frame written by two
        // threads at once comes out mixed.
        for (std::size_t i = 0; yields && i < size; ++i) {
            bytes += data[i];
            std::this_thread::yield();
        }
        if (!yields)
            bytes.append(data, size);
        return true;
    }
    bool ReaderGone() override { return readerGone; }
    // Every reply, each a whole frame of JSON.
    std::vector<json> Replies() const {
        std::vector<json> replies;
        for (std::size_t at = 0; at < bytes.size();) {
            std::uint32_t length = 0;
            std::memcpy(&length, bytes.data() + at, 4);
            EXPECT_LE(length, kMaxReplyBytes);
            replies.push_back(json::parse(bytes.substr(at + 4, length)));
            at += 4 + length;
        }
        return replies;
    }
};

class Recorder final : public MessageHandler {
  public:
    std::vector<DownloadMessage> seen;
    std::vector<OfferTerms> terms;
    std::string detail = "ok";
    bool fails = false;
    // Answers "timed-out", and "taken" late from a thread of its own.
    bool takesLate = false;
    std::vector<std::thread> late;
    HostSettings settings;
    Reply Handle(const DownloadMessage& message, const OfferTerms& offer) override {
        seen.push_back(message);
        terms.push_back(offer);
        if (fails)
            throw std::runtime_error("hand-off failed");
        if (!takesLate)
            return Reply{"", ReplyReason::kTaken, detail};
        late.emplace_back([reply = offer.late] { reply.Taken(); });
        return Reply{"", ReplyReason::kTimedOut, detail};
    }
    HostSettings Settings() override { return settings; }
};

constexpr std::int64_t kNow = 1765270000000;

class FixedClock final : public Clock {
  public:
    std::int64_t NowMs() override { return kNow; }
};

HostExit Serve(Input& in, Output& out, Recorder& handler) {
    FixedClock clock;
    return ServeFrames(in, std::make_shared<ReplyChannel>(out), handler, clock);
}

// The fields a message had before (the first URL, the type and the size) are
// unknown ones now, and ignored.
const std::string kAll =
    R"({"id":7,"url":"https://h/f\u00e9.zip","firstUrl":"http://h/r","referrer":"http://h/",)"
    R"("cookie":"a=1; b=2","linkText":"T\u00e9l\u00e9charger \ud83d\ude00","filename":"f.zip",)"
    R"("mime":"application/zip","size":"1234","extra":[1],"deadline":1765270012000,"userAsked":true})";

TEST(HostLoop, EachInputGetsItsReply) {
    const std::string bad = "bad-message";
    struct Case {
        const char* name;
        std::string input;
        std::vector<std::string> reasons;  // of the replies, in order
        HostExit exit;
        std::size_t handled;
        const char* firstId;  // the first reply's id as JSON, "" for none
    } cases[] = {
        {"nothing", "", {}, kHostStreamEnded, 0, ""},
        {"all fields", Frame(kAll), {"taken"}, kHostStreamEnded, 1, "7"},
        {"two on one port",
         Frame(kAll) + Frame(R"({"url":"u","id":8.5})"),
         {"taken", "taken"},
         kHostStreamEnded,
         2,
         "7"},
        {"empty frame, then on", Frame("") + Frame(kAll), {bad, "taken"}, kHostStreamEnded, 1, ""},
        {"not JSON", Frame("{\"url\":"), {bad}, kHostStreamEnded, 0, ""},
        {"trailing bytes", Frame(R"({"url":"u"} x)"), {bad}, kHostStreamEnded, 0, ""},
        {"invalid UTF-8", Frame("{\"url\":\"http://h/\xff.zip\"}"), {bad}, kHostStreamEnded, 0, ""},
        {"an encoded surrogate",
         Frame("{\"url\":\"http://h/\xed\xa0\x80\"}"),
         {bad},
         kHostStreamEnded,
         0,
         ""},
        {"a lone escaped surrogate",
         Frame(R"({"url":"http://h/\ud800"})"),
         {bad},
         kHostStreamEnded,
         0,
         ""},
        {"an array", Frame(R"([{"url":"u"}])"), {bad}, kHostStreamEnded, 0, ""},
        {"no url", Frame(R"({"id":3,"filename":"a.zip"})"), {bad}, kHostStreamEnded, 0, "3"},
        {"url not a string", Frame(R"({"id":3,"url":5})"), {bad}, kHostStreamEnded, 0, "3"},
        {"cookie null", Frame(R"({"url":"u","cookie":null})"), {bad}, kHostStreamEnded, 0, ""},
        {"deadline a string",
         Frame(R"({"url":"u","deadline":"1765270012000"})"),
         {bad},
         kHostStreamEnded,
         0,
         ""},
        {"deadline null", Frame(R"({"url":"u","deadline":null})"), {bad}, kHostStreamEnded, 0, ""},
        {"id a string", Frame(R"({"id":"3","url":"u"})"), {bad}, kHostStreamEnded, 0, ""},
        {"unknown types, userAsked not a boolean",
         Frame(R"({"id":3,"type":"offer","url":"u"})") + Frame(R"({"type":1,"url":"u"})") +
             Frame(R"({"url":"u","userAsked":1})"),
         {bad, bad, bad},
         kHostStreamEnded,
         0,
         "3"},
        {"a zero character",
         Frame(R"({"url":"http://h/a.zip\u0000.txt"})"),
         {bad},
         kHostStreamEnded,
         0,
         ""},
        {"over the limit, then on",
         Header(kMaxMessageBytes + 1) + std::string(kMaxMessageBytes + 1, ' ') + Frame(kAll),
         {bad, "taken"},
         kHostStreamEnded,
         1,
         ""},
        {"at the limit",
         Frame(R"({"url":"u"})" + std::string(kMaxMessageBytes - 11, ' ')),
         {"taken"},
         kHostStreamEnded,
         1,
         ""},
        {"over the limit, cut off", Header(0xffffffffu) + "{}", {bad}, kHostStreamBroken, 0, ""},
        {"header cut off",
         Frame(kAll) + std::string("\x05\x00", 2),
         {"taken", bad},
         kHostStreamBroken,
         1,
         "7"},
        {"body cut off", Frame(kAll).substr(0, 20), {bad}, kHostStreamBroken, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Input in(c.input);
        Output out;
        Recorder handler;
        EXPECT_EQ(c.exit, Serve(in, out, handler));
        EXPECT_EQ(c.handled, handler.seen.size());
        const std::vector<json> replies = out.Replies();
        ASSERT_EQ(c.reasons.size(), replies.size());
        for (std::size_t i = 0; i < replies.size(); ++i) {
            EXPECT_EQ(c.reasons[i], replies[i].at("reason"));
            EXPECT_EQ(c.reasons[i] == "taken", replies[i].at("taken"));
            EXPECT_FALSE(replies[i].at("detail").get<std::string>().empty());
        }
        if (!replies.empty())
            EXPECT_EQ(c.firstId, replies[0].contains("id") ? replies[0]["id"].dump() : "");
    }
}

TEST(HostLoop, TheHandOffSeesTheFieldsExactly) {
    Input in(Frame(kAll) + Frame(R"({"url":"http://h/"})"));
    Output out;
    Recorder handler;
    Serve(in, out, handler);
    ASSERT_EQ(2u, handler.seen.size());
    const DownloadMessage& m = handler.seen[0];
    EXPECT_EQ("https://h/f\xc3\xa9.zip", m.url);
    EXPECT_EQ("http://h/", m.referrer);
    EXPECT_EQ("a=1; b=2", m.cookie);
    EXPECT_EQ(
        "T\xc3\xa9l\xc3\xa9"
        "charger \xf0\x9f\x98\x80",
        m.linkText);
    EXPECT_EQ("f.zip", m.fileName);
    EXPECT_EQ(std::optional<std::int64_t>(1765270012000), m.deadline);
    EXPECT_TRUE(m.userAsked);
    const DownloadMessage& bare = handler.seen[1];
    EXPECT_EQ("", bare.referrer + bare.cookie + bare.linkText + bare.fileName);
    EXPECT_FALSE(bare.deadline.has_value());
    EXPECT_FALSE(bare.userAsked);
}

// A settings message, between offers, is answered with the settings (the
// list one entry per element) and never reaches the hand-off.
TEST(HostLoop, ASettingsMessageIsAnsweredWithTheSettings) {
    const std::string settings = R"({"id":5,"type":"settings","url":7})";
    Input in(Frame(settings) + Frame(kAll));
    Output out;
    Recorder handler;
    handler.settings = {std::nullopt, true, ";.zip;;\xe6\x96\x87", "C:\\UserConfig.ini", false};
    EXPECT_EQ(kHostStreamEnded, Serve(in, out, handler));
    EXPECT_EQ(1u, handler.seen.size());
    const json reply = json::parse(R"({"id":5,"settings":{"monitorBrowsers":null,"switchOn":true,)"
                                   R"("extendNames":[".zip","\u6587"],)"
                                   R"("configFile":"C:\\UserConfig.ini","configFound":false}})");
    EXPECT_EQ(reply, out.Replies().at(0));
    EXPECT_EQ("taken", out.Replies().at(1).at("reason"));
}

// The offer ends a margin before the browser stops waiting; one with too
// little time left never reaches the hand-off; a deadline far off or absurd
// is held to the longest offer; none at all gives the library's bound.
TEST(HostLoop, TheDeadlineBoundsTheOfferOrKeepsItFromTheAgent) {
    struct Case {
        std::string deadline;   // the field's JSON, "" for none
        std::uint32_t boundMs;  // 0: answered "timed-out" unasked
    } cases[] = {
        {"", kUndatedOfferMs},
        {std::to_string(kNow + 12000), 12000 - kReplyMarginMs},
        {std::to_string(kNow + 12000) + ".9", 12000 - kReplyMarginMs},
        {std::to_string(kNow + kReplyMarginMs + kShortestOfferMs), kShortestOfferMs},
        {std::to_string(kNow + kReplyMarginMs + kShortestOfferMs - 1), 0},
        {std::to_string(kNow - 60000), 0},
        {"-9223372036854775808", 0},
        {std::to_string(kNow + kReplyMarginMs + kLongestOfferMs), kLongestOfferMs},
        {"18446744073709551615", kLongestOfferMs},
        {"1e300", kLongestOfferMs},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.deadline);
        Input in(Frame(R"({"id":4,"url":"http://h/a.zip")" +
                       (c.deadline.empty() ? "" : ",\"deadline\":" + c.deadline) + "}"));
        Output out;
        Recorder handler;
        EXPECT_EQ(kHostStreamEnded, Serve(in, out, handler));
        const json reply = out.Replies().at(0);
        EXPECT_EQ(4, reply.at("id"));
        if (c.boundMs == 0) {
            EXPECT_TRUE(handler.seen.empty());
            EXPECT_EQ("timed-out", reply.at("reason"));
        } else {
            ASSERT_EQ(1u, handler.terms.size());
            EXPECT_EQ(c.boundMs, handler.terms[0].boundMs);
        }
    }
}

// Late replies come from other threads while the loop answers: each is a
// whole frame with its message's id, and none is written once the channel
// closed or the browser went.
TEST(HostLoop, ALateReplyIsAWholeFrameOfItsOwn) {
    std::string frames;
    for (int i = 0; i < 20; ++i)
        frames += Frame(R"({"url":"http://h/a.zip","id":)" + std::to_string(i) + "}");
    Input in(frames);
    Output out;
    out.yields = true;
    Recorder handler;
    handler.takesLate = true;
    FixedClock clock;
    const auto channel = std::make_shared<ReplyChannel>(out);
    EXPECT_EQ(kHostStreamEnded, ServeFrames(in, channel, handler, clock));
    for (std::thread& thread : handler.late)
        thread.join();
    std::multiset<int> answered, takenLate;
    for (const json& reply : out.Replies())
        (reply.value("late", false) ? takenLate : answered).insert(reply.at("id").get<int>());
    EXPECT_EQ(20u, answered.size());
    EXPECT_EQ(answered, takenLate);

    const LateReply afterwards(channel, "3");
    const std::size_t written = out.bytes.size();
    out.refuse = true;
    afterwards.Taken();  // the browser closed the port: the write fails, harmlessly
    out.refuse = false;
    channel->Close();
    afterwards.Taken();
    EXPECT_EQ(written, out.bytes.size());
}

TEST(HostLoop, AFailingHandOffOrReaderAndAnOversizedReply) {
    Recorder handler;
    handler.fails = true;
    Input in(Frame(kAll));
    Output out;
    EXPECT_EQ(kHostStreamEnded, Serve(in, out, handler));
    EXPECT_EQ("declined", out.Replies().at(0).at("reason"));

    // Nobody reads: the host ends instead of spinning.
    Input again(Frame(kAll) + Frame(kAll));
    Output closed;
    closed.refuse = true;
    Recorder quiet;
    EXPECT_EQ(kHostReplyFailed, Serve(again, closed, quiet));
    EXPECT_EQ(1u, quiet.seen.size());

    // The browser closed the port with messages still in the pipe: none of
    // them starts an offer.
    Input queued(Frame(kAll) + Frame(kAll));
    Output gone;
    gone.readerGone = true;
    Recorder unasked;
    EXPECT_EQ(kHostReplyFailed, Serve(queued, gone, unasked));
    EXPECT_TRUE(unasked.seen.empty());
    EXPECT_TRUE(gone.bytes.empty());

    // A reply past the browser's limit goes without its detail.
    Recorder wordy;
    wordy.detail.assign(kMaxReplyBytes, 'x');
    Input one(Frame(kAll));
    Output big;
    Serve(one, big, wordy);
    const json reply = big.Replies().at(0);
    EXPECT_EQ("taken", reply.at("reason"));
    EXPECT_EQ(7, reply.at("id"));
    EXPECT_EQ("", reply.at("detail"));
}

}  // namespace

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
#include <mutex>
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

// The records as a store keeps them, each write also in `history` ("<name>
// <state>"), beside the hand-offs the Recorder notes there.
class MemoryLog final : public OfferLog {
  public:
    std::vector<std::string> history;
    std::vector<OfferRecord> records;
    void Write(const OfferKey& key, OfferState state) noexcept override {
        std::lock_guard<std::mutex> hold(lock_);
        const std::string text = RecordText(state, ++stamp_);
        history.push_back(RecordName(key) + " " + text.substr(0, text.find(' ')));
        Forget(key);
        records.push_back({key, state, stamp_});
    }
    std::vector<OfferRecord> Read() noexcept override { return records; }
    bool Forget(const OfferKey& key) noexcept override {
        const auto found = std::find_if(records.begin(), records.end(),
                                        [&](const OfferRecord& r) { return r.key == key; });
        if (found == records.end())
            return false;
        records.erase(found);
        return true;
    }

  private:
    std::mutex lock_;
    std::int64_t stamp_ = 0;
};

class Recorder final : public MessageHandler {
  public:
    std::vector<std::string>* history = nullptr;
    std::vector<DownloadMessage> seen;
    std::vector<OfferTerms> terms;
    std::string detail = "ok";
    bool fails = false;
    // Answers "timed-out", and "taken" late from a thread of its own.
    bool takesLate = false;
    std::vector<std::thread> late;
    HostSettings settings;
    // The answer to an offer of this URL, when not "taken".
    std::vector<std::pair<std::string, ReplyReason>> answers;
    Reply Handle(const DownloadMessage& message, const OfferTerms& offer) override {
        seen.push_back(message);
        terms.push_back(offer);
        if (history != nullptr)
            history->push_back("hand-off " + message.url);
        if (fails)
            throw std::runtime_error("hand-off failed");
        for (const auto& answer : answers) {
            if (answer.first == message.url)
                return Reply{"", answer.second, detail};
        }
        if (!takesLate)
            return Reply{"", ReplyReason::kTaken, detail};
        late.emplace_back([reply = offer.late] { reply.Ended(true); });
        return Reply{"", ReplyReason::kTimedOut, detail};
    }
    HostSettings Settings() override { return settings; }
};

constexpr std::int64_t kNow = 1765270000000;

class FixedClock final : public Clock {
  public:
    std::int64_t NowMs() override { return kNow; }
};

HostExit Serve(Input& in, Output& out, Recorder& handler,
               const std::shared_ptr<MemoryLog>& log = std::make_shared<MemoryLog>()) {
    FixedClock clock;
    return ServeFrames(in, std::make_shared<ReplyChannel>(out), handler, clock, log);
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
        // Half a pair is text cut short: shown, it becomes U+FFFD; in the
        // request the agent repeats, it makes the message bad.
        {"a lone escaped surrogate in the request",
         Frame(R"({"url":"http://h/\ud800"})") + Frame(R"({"url":"u","cookie":"a=\udc00"})") +
             Frame(R"({"url":"u","referrer":"http://h/\ud83d\ud83d\ude00"})"),
         {bad, bad, bad},
         kHostStreamEnded,
         0,
         ""},
        {"a lone escaped surrogate in the link's text or name",
         Frame(R"({"id":1,"url":"u","linkText":"\ud83d","filename":"\ude00.zip"})") +
             Frame(R"({"url":"u","linkText":"\\ud800 \\\ud800"})"),
         {"taken", "taken"},
         kHostStreamEnded,
         2,
         "1"},
        {"a control character in the request",
         Frame(R"({"url":"http://h/a.zip\r\nX-A: 1"})") +
             Frame(R"({"url":"u","cookie":"a=1\nCookie: b=2"})") +
             Frame(R"({"url":"u","referrer":"http://h/\u0007"})") +
             Frame(R"({"url":"http://h/\u007f"})") + Frame(R"({"url":"http://h/\t"})") +
             Frame(R"({"url":"u","cookie":"\u001b[0m"})"),
         {bad, bad, bad, bad, bad, bad},
         kHostStreamEnded,
         0,
         ""},
        {"record messages without their offers",
         Frame(R"({"id":3,"type":"outcomes"})") +
             Frame(R"({"type":"forget-outcomes","offers":[{"deadline":1}]})") +
             Frame(R"({"type":"outcomes","offers":[{"id":1,"deadline":"1"}]})") +
             Frame(R"({"type":"outcomes","offers":{"id":1}})"),
         {bad, bad, bad, bad},
         kHostStreamEnded,
         0,
         "3"},
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

// The link's text without what could hide or reorder the text around it
// (controls, DEL, bidirectional embeddings, overrides and isolates), a lone
// surrogate as U+FFFD, and every other character as it came.
const std::string kShownText =
    R"({"url":"http://h/","linkText":"\\ud800 a\u0000\u0007b\r\nc\t\u001b[1m\u007fd\u202a\u202b\u202c)"
    R"(\u202d\u202ee\u2066\u2067\u2068\u2069f\u2029\u200f\u0085\ud83d!\ude00 )"
    "\xe4\xb8\x8b\xe8\xbd\xbd \xf0\x9f\x98\x80 \xe2\x80\xa9\xe2\x81\xa5\xe2\x81\xaa\"}";

TEST(HostLoop, TheHandOffSeesTheFieldsExactly) {
    Input in(Frame(kAll) + Frame(R"({"url":"http://h/"})") + Frame(kShownText));
    Output out;
    Recorder handler;
    Serve(in, out, handler);
    ASSERT_EQ(3u, handler.seen.size());
    EXPECT_EQ(
        "\\ud800 abc[1mdef\xe2\x80\xa9\xe2\x80\x8f\xc2\x85\xef\xbf\xbd!\xef\xbf\xbd "
        "\xe4\xb8\x8b\xe8\xbd\xbd \xf0\x9f\x98\x80 \xe2\x80\xa9\xe2\x81\xa5\xe2\x81\xaa",
        handler.seen[2].linkText);
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
            EXPECT_EQ("no-time", reply.at("reason"));
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
    EXPECT_EQ(kHostStreamEnded,
              ServeFrames(in, channel, handler, clock, std::make_shared<MemoryLog>()));
    for (std::thread& thread : handler.late)
        thread.join();
    std::multiset<int> answered, takenLate;
    for (const json& reply : out.Replies())
        (reply.value("late", false) ? takenLate : answered).insert(reply.at("id").get<int>());
    EXPECT_EQ(20u, answered.size());
    EXPECT_EQ(answered, takenLate);

    const LateReply afterwards(channel, nullptr, OfferKey{"3", std::nullopt});
    const std::size_t written = out.bytes.size();
    out.refuse = true;
    afterwards.Ended(true);  // the browser closed the port: the write fails, harmlessly
    out.refuse = false;
    channel->Close();
    afterwards.Ended(true);
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

// Each offer's record is written before the hand-off and after it; one given
// up at its bound stays "asking" until the agent answers it; one without an
// id, or not asked for lack of time, has none. The outcomes message tells
// only the offers it names, by id and deadline; forgetting removes them.
TEST(HostLoop, TheOutcomeOfEachOfferIsKeptAndTold) {
    const std::string deadline = std::to_string(kNow + 12000);
    auto offer = [&](int id, const std::string& url) {
        return Frame(R"({"id":)" + std::to_string(id) + R"(,"url":")" + url + R"(","deadline":)" +
                     deadline + "}");
    };
    const auto log = std::make_shared<MemoryLog>();
    Recorder handler;
    handler.history = &log->history;
    handler.answers = {{"http://h/no", ReplyReason::kNotInList},
                       {"http://h/slow", ReplyReason::kTimedOut},
                       {"http://h/stalled", ReplyReason::kTimedOut}};
    Input in(offer(1, "http://h/yes") + offer(2, "http://h/no") + offer(3, "http://h/slow") +
             offer(4, "http://h/stalled") + Frame(R"({"url":"http://h/unnamed"})") +
             Frame(R"({"id":5,"url":"http://h/late","deadline":)" + std::to_string(kNow) + "}") +
             Frame(R"({"id":6,"url":"http://h/undated"})"));
    Output out;
    EXPECT_EQ(kHostStreamEnded, Serve(in, out, handler, log));
    handler.terms.at(2).late.Ended(true);
    const std::string d = " " + deadline;
    const std::vector<std::string> history = {
        "1" + d + " asking",         "hand-off http://h/yes",
        "1" + d + " taken",          "2" + d + " asking",
        "hand-off http://h/no",      "2" + d + " kept",
        "3" + d + " asking",         "hand-off http://h/slow",
        "4" + d + " asking",         "hand-off http://h/stalled",
        "hand-off http://h/unnamed", "6 asking",
        "hand-off http://h/undated", "6 taken",
        "3" + d + " taken"};
    EXPECT_EQ(history, log->history);

    // Asked twice over, and about offers it never had (another deadline, none).
    const std::string named = R"([{"id":1,"deadline":)" + deadline + R"(},{"id":3,"deadline":)" +
                              deadline + R"(},{"id":4,"deadline":)" + deadline + R"(},{"id":1,)" +
                              R"("deadline":)" + deadline + R"(},{"id":2},{"id":5,"deadline":)" +
                              std::to_string(kNow) + R"(},{"id":6,"deadline":1}])";
    Input ask(Frame(R"({"id":9,"type":"outcomes","offers":)" + named + "}") +
              Frame(R"({"id":10,"type":"forget-outcomes","offers":)" + named + "}") +
              Frame(R"({"id":11,"type":"outcomes","offers":)" + named + "}"));
    Output told;
    EXPECT_EQ(kHostStreamEnded, Serve(ask, told, handler, log));
    auto outcome = [&](int id, json taken, int at) {
        return json{{"id", id}, {"deadline", kNow + 12000}, {"taken", taken}, {"at", at}};
    };
    const std::vector<json> replies = told.Replies();
    ASSERT_EQ(3u, replies.size());
    EXPECT_EQ((json{{"id", 9},
                    {"outcomes", json::array({outcome(1, true, 2), outcome(4, nullptr, 6),
                                              outcome(3, true, 9)})}}),
              replies[0]);
    EXPECT_EQ(json::parse(R"({"id":10,"forgotten":3})"), replies[1]);
    EXPECT_EQ(json::parse(R"({"id":11,"outcomes":[]})"), replies[2]);
    ASSERT_EQ(2u, log->records.size());  // 2, kept, and 6 stay
}

// A store lets go of records past their day, then of all but the newest.
TEST(HostLoop, TheRecordsStaySmallAndShortLived) {
    std::vector<OfferRecord> records;
    for (std::size_t i = 0; i <= kKeptOfferRecords; ++i)
        records.push_back({OfferKey{std::to_string(i), kNow}, OfferState::kTaken,
                           kNow - static_cast<std::int64_t>(i)});
    records[1].at = kNow - kOfferRecordLifeMs - 1;
    records[2].at = kNow - kOfferRecordLifeMs;
    records[3].at = kNow + 60000;  // another host's clock, a little ahead
    auto stale = [&] {
        std::vector<std::string> names;
        for (const OfferKey& key : StaleRecords(records, kNow))
            names.push_back(key.idText);
        return names;
    };
    EXPECT_EQ(std::vector<std::string>{"1"}, stale());
    // One more: the oldest that is still in its day goes.
    records.push_back({OfferKey{"new", kNow}, OfferState::kKept, kNow});
    EXPECT_EQ((std::vector<std::string>{"2", "1"}), stale());
}

}  // namespace

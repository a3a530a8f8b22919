#include "native_host/host_loop.h"

#include "common/boundary.h"
#include "native_host/offer_window.h"
#include "native_host/reply_reasons.h"

#include <algorithm>
#include <mutex>
#include <string>

bool ReplyChannel::Send(const Reply& reply) {
    return SendJson(ReplyJson(reply));
}

bool ReplyChannel::SendJson(const std::string& json) {
    std::lock_guard<ProcessLock> hold(lock_);
    return sink_ != nullptr && WriteFrame(*sink_, json);
}

bool ReplyChannel::ReaderGone() {
    std::lock_guard<ProcessLock> hold(lock_);
    return sink_ == nullptr || sink_->ReaderGone();
}

void ReplyChannel::Close() noexcept {
    std::lock_guard<ProcessLock> hold(lock_);
    sink_ = nullptr;
}

void LateReply::Ended(bool taken) const noexcept {
    if (log_)
        log_->Write(key_, taken ? OfferState::kTaken : OfferState::kKept);
    if (!channel_ || !taken)
        return;
    GuardBoundary([&] {
        Reply reply = TakenLateReply();
        reply.idText = key_.idText;
        channel_->Send(reply);
    });
}

namespace {

Reply BadMessage(std::string detail, std::string idText = std::string()) {
    Reply reply;
    reply.idText = std::move(idText);
    reply.reason = ReplyReason::kBadMessage;
    reply.detail = std::move(detail);
    return reply;
}

Reply AnswerOffer(const ParsedMessage& parsed, const std::shared_ptr<ReplyChannel>& out,
                  MessageHandler& handler, Clock& clock, const std::shared_ptr<OfferLog>& log) {
    const std::uint32_t boundMs = OfferWindowMs(parsed.message.deadline, clock.NowMs());
    if (boundMs == 0) {
        Reply reply = NotAskedReply();
        reply.idText = parsed.idText;
        return reply;
    }
    // Written before the agent can be asked: a host stopped during the offer
    // leaves a record that says the agent may have it. Only an offer with an
    // id can be asked about.
    const OfferKey key{parsed.idText, parsed.message.deadline};
    const std::shared_ptr<OfferLog> recorded = key.idText.empty() ? nullptr : log;
    if (recorded)
        recorded->Write(key, OfferState::kAsking);
    Reply declined;
    declined.reason = ReplyReason::kDeclined;
    declined.detail = "The host failed while handing the download over.";
    Reply reply = GuardBoundary(declined, [&] {
        return handler.Handle(parsed.message, OfferTerms{boundMs, LateReply(out, recorded, key)});
    });
    // One given up at its bound stays "asking" until the agent answers it.
    if (recorded && reply.reason != ReplyReason::kTimedOut)
        recorded->Write(
            key, reply.reason == ReplyReason::kTaken ? OfferState::kTaken : OfferState::kKept);
    reply.idText = parsed.idText;
    return reply;
}

// The records of the offers `parsed` names, or how many of them it forgot.
std::string AnswerFromLog(const ParsedMessage& parsed, OfferLog& log) {
    const auto named = [&](const OfferKey& key) {
        return std::find(parsed.offers.begin(), parsed.offers.end(), key) != parsed.offers.end();
    };
    if (parsed.kind == MessageKind::kOutcomes) {
        std::vector<OfferRecord> records = log.Read();
        records.erase(std::remove_if(records.begin(), records.end(),
                                     [&](const OfferRecord& record) { return !named(record.key); }),
                      records.end());
        return OutcomesJson(parsed.idText, records);
    }
    std::size_t forgotten = 0;
    for (const OfferKey& key : parsed.offers)
        forgotten += log.Forget(key) ? 1 : 0;
    return ForgottenJson(parsed.idText, forgotten);
}

// The reply's JSON.
std::string Answer(const Frame& frame, const std::shared_ptr<ReplyChannel>& out,
                   MessageHandler& handler, Clock& clock, const std::shared_ptr<OfferLog>& log) {
    if (frame.status == Frame::kTooLong) {
        return ReplyJson(BadMessage("The message has " + std::to_string(frame.length) +
                                    " bytes, more than the " + std::to_string(kMaxMessageBytes) +
                                    " the host reads."));
    }
    if (frame.status == Frame::kCutOff)
        return ReplyJson(BadMessage("The message was cut off: the stream ended inside it."));
    const ParsedMessage parsed = ParseMessage(frame.body);
    if (!parsed.ok)
        return ReplyJson(BadMessage(parsed.error, parsed.idText));
    if (parsed.kind == MessageKind::kOffer)
        return ReplyJson(AnswerOffer(parsed, out, handler, clock, log));
    if (parsed.kind != MessageKind::kSettings) {
        const std::string failed = ReplyJson(
            BadMessage("The host failed while reading its record of offers.", parsed.idText));
        return GuardBoundary(failed, [&] { return AnswerFromLog(parsed, *log); });
    }
    const std::string failed = ReplyJson(BadMessage(
        "The host failed while reading the download manager's settings.", parsed.idText));
    return GuardBoundary(failed, [&] { return SettingsJson(parsed.idText, handler.Settings()); });
}

}  // namespace

HostExit ServeFrames(ByteSource& in, const std::shared_ptr<ReplyChannel>& out,
                     MessageHandler& handler, Clock& clock, const std::shared_ptr<OfferLog>& log) {
    for (;;) {
        const Frame frame = ReadFrame(in);
        if (frame.status == Frame::kEnd)
            return kHostStreamEnded;
        if (out->ReaderGone())
            return kHostReplyFailed;
        if (!out->SendJson(Answer(frame, out, handler, clock, log)))
            return kHostReplyFailed;
        if (frame.status == Frame::kCutOff)
            return kHostStreamBroken;
    }
}

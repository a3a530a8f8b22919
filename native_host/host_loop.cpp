#include "native_host/host_loop.h"

#include "common/boundary.h"
#include "native_host/offer_window.h"
#include "native_host/reply_reasons.h"

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

void LateReply::Taken() const noexcept {
    if (!channel_)
        return;
    GuardBoundary([&] {
        Reply reply = TakenLateReply();
        reply.idText = idText_;
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
                  MessageHandler& handler, Clock& clock) {
    const std::uint32_t boundMs = OfferWindowMs(parsed.message.deadline, clock.NowMs());
    Reply declined;
    declined.reason = ReplyReason::kDeclined;
    declined.detail = "The host failed while handing the download over.";
    Reply reply = boundMs == 0 ? NotAskedReply() : GuardBoundary(declined, [&] {
        return handler.Handle(parsed.message, OfferTerms{boundMs, LateReply(out, parsed.idText)});
    });
    reply.idText = parsed.idText;
    return reply;
}

// The reply's JSON.
std::string Answer(const Frame& frame, const std::shared_ptr<ReplyChannel>& out,
                   MessageHandler& handler, Clock& clock) {
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
        return ReplyJson(AnswerOffer(parsed, out, handler, clock));
    const std::string failed = ReplyJson(BadMessage(
        "The host failed while reading the download manager's settings.", parsed.idText));
    return GuardBoundary(failed, [&] { return SettingsJson(parsed.idText, handler.Settings()); });
}

}  // namespace

HostExit ServeFrames(ByteSource& in, const std::shared_ptr<ReplyChannel>& out,
                     MessageHandler& handler, Clock& clock) {
    for (;;) {
        const Frame frame = ReadFrame(in);
        if (frame.status == Frame::kEnd)
            return kHostStreamEnded;
        if (out->ReaderGone())
            return kHostReplyFailed;
        if (!out->SendJson(Answer(frame, out, handler, clock)))
            return kHostReplyFailed;
        if (frame.status == Frame::kCutOff)
            return kHostStreamBroken;
    }
}

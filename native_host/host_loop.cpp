#include "native_host/host_loop.h"

#include "common/boundary.h"

#include <string>

namespace {

Reply BadMessage(std::string detail, std::string idText = std::string()) {
    Reply reply;
    reply.idText = std::move(idText);
    reply.reason = ReplyReason::kBadMessage;
    reply.detail = std::move(detail);
    return reply;
}

Reply Answer(const Frame& frame, MessageHandler& handler) {
    if (frame.status == Frame::kTooLong) {
        return BadMessage("The message has " + std::to_string(frame.length) +
                          " bytes, more than the " + std::to_string(kMaxMessageBytes) +
                          " the host reads.");
    }
    if (frame.status == Frame::kCutOff)
        return BadMessage("The message was cut off: the stream ended inside it.");
    ParsedMessage parsed = ParseMessage(frame.body);
    if (!parsed.ok)
        return BadMessage(parsed.error, parsed.idText);
    Reply declined;
    declined.reason = ReplyReason::kDeclined;
    declined.detail = "The host failed while handing the download over.";
    Reply reply = GuardBoundary(declined, [&] { return handler.Handle(parsed.message); });
    reply.idText = parsed.idText;
    return reply;
}

}  // namespace

HostExit ServeFrames(ByteSource& in, ByteSink& out, MessageHandler& handler) {
    for (;;) {
        const Frame frame = ReadFrame(in);
        if (frame.status == Frame::kEnd)
            return kHostStreamEnded;
        if (!WriteFrame(out, ReplyJson(Answer(frame, handler))))
            return kHostReplyFailed;
        if (frame.status == Frame::kCutOff)
            return kHostStreamBroken;
    }
}

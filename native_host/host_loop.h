#pragma once

// The host's loop: a frame in, a reply out, for as long as the browser keeps
// the port open. Only frames are ever written, each whole: a late reply
// comes from another thread.

#include "common/process_lock.h"
#include "native_host/frame.h"
#include "native_host/message.h"
#include "native_host/offer_log.h"

#include <cstdint>
#include <memory>
#include <string>

// Where every reply goes, from any thread, one whole frame at a time.
class ReplyChannel {
  public:
    explicit ReplyChannel(ByteSink& sink) noexcept : sink_(&sink) {}
    ReplyChannel(const ReplyChannel&) = delete;
    ReplyChannel& operator=(const ReplyChannel&) = delete;

    // False when the frame was not written whole, or the channel is closed.
    bool Send(const Reply& reply);
    bool SendJson(const std::string& json);
    bool ReaderGone();
    // Nothing is written from here on, so the sink may go; a late reply
    // still on its way is dropped.
    void Close() noexcept;

  private:
    ProcessLock lock_;
    ByteSink* sink_;  // null once closed
};

// The end of an offer answered "timed-out": its record, and a second reply
// when the agent took it after all. A copy may travel to any thread and
// outlive the loop.
class LateReply {
  public:
    LateReply() = default;
    // Without a log the offer has no record (its message had no id).
    LateReply(std::shared_ptr<ReplyChannel> channel, std::shared_ptr<OfferLog> log, OfferKey key)
        : channel_(std::move(channel)), log_(std::move(log)), key_(std::move(key)) {}
    // Writes the record, and the reply when `taken`, or no reply once the
    // channel closed or the browser went.
    void Ended(bool taken) const noexcept;

  private:
    std::shared_ptr<ReplyChannel> channel_;
    std::shared_ptr<OfferLog> log_;
    OfferKey key_;
};

// What the hand-off may spend on one message.
struct OfferTerms {
    std::uint32_t boundMs = 0;  // the longest it may wait for the agent
    LateReply late;
};

// What the host does with one well-formed offer whose deadline leaves time
// to ask the agent, and with a settings message. Anything Handle throws is
// answered as a declined download, anything Settings throws as a bad
// message.
class MessageHandler {
  public:
    virtual Reply Handle(const DownloadMessage& message, const OfferTerms& terms) = 0;
    virtual HostSettings Settings() = 0;

  protected:
    ~MessageHandler() = default;
};

// The clock deadlines are read against: milliseconds since the Unix epoch.
class Clock {
  public:
    virtual std::int64_t NowMs() = 0;

  protected:
    ~Clock() = default;
};

// How the loop ended: the program's exit status.
enum HostExit {
    kHostStreamEnded = 0,   // stdin closed between two frames
    kHostReplyFailed = 1,   // stdout took no reply, or nobody reads it any more
    kHostStreamBroken = 2,  // stdin ended inside a frame (answered if it could be)
    kHostFailed = 3,        // no binary streams, no COM, or anything thrown
};

// Serves every frame of `in`, one after the other. A bad frame or message is
// answered with "bad-message" and the loop reads on; a message whose
// deadline leaves too little time for the agent is answered "no-time"
// without the hand-off; a cut-off frame ends it, and so does a reader gone
// before a message's turn: no offer starts that nobody would hear the end of.
// Every offer with an id that goes to the hand-off has its record in `log`,
// written before and after; outcomes and forget messages are answered from
// it.
HostExit ServeFrames(ByteSource& in, const std::shared_ptr<ReplyChannel>& out,
                     MessageHandler& handler, Clock& clock, const std::shared_ptr<OfferLog>& log);

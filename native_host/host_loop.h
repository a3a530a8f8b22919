#pragma once

// The host's loop: a frame in, a reply out, for as long as the browser keeps
// the port open. Only frames are ever written, each whole: a late reply
// comes from another thread.

#include "common/process_lock.h"
#include "native_host/frame.h"
#include "native_host/message.h"

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

// The second reply to one message, for an offer answered "timed-out" that
// the agent takes after all. A copy may travel to any thread and outlive
// the loop.
class LateReply {
  public:
    LateReply() = default;
    LateReply(std::shared_ptr<ReplyChannel> channel, std::string idText)
        : channel_(std::move(channel)), idText_(std::move(idText)) {}
    // Writes it, or nothing once the channel closed or the browser went.
    void Taken() const noexcept;

  private:
    std::shared_ptr<ReplyChannel> channel_;
    std::string idText_;
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
// deadline has passed is answered "timed-out" without the hand-off; a
// cut-off frame ends it, and so does a reader gone before a message's turn:
// no offer starts that nobody would hear the end of.
HostExit ServeFrames(ByteSource& in, const std::shared_ptr<ReplyChannel>& out,
                     MessageHandler& handler, Clock& clock);

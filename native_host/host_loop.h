#pragma once

// The host's loop: a frame in, a reply out, for as long as the browser keeps
// the port open. Only frames are ever written.

#include "native_host/frame.h"
#include "native_host/message.h"

// What the host does with one well-formed message. Anything it throws is
// answered as a declined download.
class MessageHandler {
  public:
    virtual Reply Handle(const DownloadMessage& message) = 0;

  protected:
    ~MessageHandler() = default;
};

// How the loop ended: the program's exit status.
enum HostExit {
    kHostStreamEnded = 0,   // stdin closed between two frames
    kHostReplyFailed = 1,   // stdout took no reply: nobody reads
    kHostStreamBroken = 2,  // stdin ended inside a frame (answered if it could be)
    kHostFailed = 3,        // no binary streams, no COM, or anything thrown
};

// Serves every frame of `in`. A bad frame or message is answered with
// "bad-message" and the loop reads on; a cut-off frame ends it.
HostExit ServeFrames(ByteSource& in, ByteSink& out, MessageHandler& handler);

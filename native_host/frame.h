#pragma once

// Native messaging frames: a 4-byte length in this machine's byte order, then
// that many bytes of the message. The browser writes them to the host's
// standard input and reads the host's replies from its standard output.

#include <cstddef>
#include <cstdint>
#include <string>

// The longest message the host reads; a longer one is skipped and answered
// as bad. A download's message is a few kilobytes, cookies included.
constexpr std::uint32_t kMaxMessageBytes = 1024 * 1024;
// The browser's limit on a host's message.
constexpr std::size_t kMaxReplyBytes = 1024 * 1024;

// The stream frames come from: each read puts at most `size` bytes in
// `buffer` and answers how many, 0 only at the end of the stream.
class ByteSource {
  public:
    virtual std::size_t Read(char* buffer, std::size_t size) = 0;

  protected:
    ~ByteSource() = default;
};

// The stream replies go to; false when it took less than everything.
class ByteSink {
  public:
    virtual bool Write(const char* data, std::size_t size) = 0;
    // Whether nobody reads any more (the browser closed the port), as far as
    // the stream can tell before a write.
    virtual bool ReaderGone() { return false; }

  protected:
    ~ByteSink() = default;
};

struct Frame {
    enum Status {
        kMessage,  // `body` is the whole message
        kEnd,      // the stream ended between two frames
        kTooLong,  // the length passes kMaxMessageBytes; the body was read past, unkept
        kCutOff,   // the stream ended inside the length or the body
    };
    Status status = kEnd;
    std::uint32_t length = 0;  // as the header gave it, when it was whole
    std::string body;
};

Frame ReadFrame(ByteSource& source);

// One reply; false when it is longer than kMaxReplyBytes (nothing is
// written) or the sink failed.
bool WriteFrame(ByteSink& sink, const std::string& body);

#pragma once

// The host's standard input and output as the frames' streams, in binary
// mode: in text mode a length byte of 0x0A or 0x1A would be translated or
// end the stream.

#include "native_host/frame.h"

// Puts both in binary mode; false when either refused.
bool UseBinaryStdio() noexcept;

class StdinSource final : public ByteSource {
  public:
    std::size_t Read(char* buffer, std::size_t size) override;
};

class StdoutSink final : public ByteSink {
  public:
    // Flushed at once: the browser waits for each reply.
    bool Write(const char* data, std::size_t size) override;
    bool ReaderGone() override;
};

#include "native_host/frame.h"

#include <cstring>

namespace {

// Reads until `size` bytes or the end; answers how many came.
std::size_t ReadFully(ByteSource& source, char* buffer, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
        const std::size_t n = source.Read(buffer + got, size - got);
        if (n == 0)
            break;
        got += n;
    }
    return got;
}

}  // namespace

Frame ReadFrame(ByteSource& source) {
    Frame frame;
    char header[sizeof(std::uint32_t)];
    const std::size_t got = ReadFully(source, header, sizeof header);
    if (got == 0) {
        frame.status = Frame::kEnd;
        return frame;
    }
    if (got < sizeof header) {
        frame.status = Frame::kCutOff;
        return frame;
    }
    std::memcpy(&frame.length, header, sizeof header);

    if (frame.length > kMaxMessageBytes) {
        // The next frame starts past this body: skip it and read on.
        char discard[4096];
        std::uint32_t left = frame.length;
        while (left > 0) {
            const std::size_t chunk = left < sizeof discard ? left : sizeof discard;
            if (ReadFully(source, discard, chunk) < chunk) {
                frame.status = Frame::kCutOff;
                return frame;
            }
            left -= static_cast<std::uint32_t>(chunk);
        }
        frame.status = Frame::kTooLong;
        return frame;
    }

    frame.body.resize(frame.length);
    if (ReadFully(source, &frame.body[0], frame.length) < frame.length) {
        frame.body.clear();
        frame.status = Frame::kCutOff;
        return frame;
    }
    frame.status = Frame::kMessage;
    return frame;
}

bool WriteFrame(ByteSink& sink, const std::string& body) {
    if (body.size() > kMaxReplyBytes)
        return false;
    const std::uint32_t length = static_cast<std::uint32_t>(body.size());
    char header[sizeof length];
    std::memcpy(header, &length, sizeof length);
    return sink.Write(header, sizeof header) && sink.Write(body.data(), body.size());
}

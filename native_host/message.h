#pragma once

// The host's one message, one per download, and its reply, both UTF-8 JSON:
//
//   {"id": 7, "url": "<final URL>", "referrer": "...", "cookie": "a=1; b=2",
//    "linkText": "...", "filename": "a.zip", "deadline": 1765270000000}
//   {"id": 7, "taken": false, "reason": "not-in-list", "detail": "..."}
//
// "url" is required; every other field is optional (empty, or no deadline).
// A present field of the wrong type is a bad message; unknown fields are
// ignored. "id" is echoed so that the extension can match a reply to its
// download. An offer given up at its bound that the agent takes after all
// gets a second reply, {"id": 7, "taken": true, "reason": "taken", "late":
// true, "detail": "..."}.

#include <cstdint>
#include <optional>
#include <string>

struct DownloadMessage {
    std::string url;       // after redirects: the one the decision and the agent see
    std::string referrer;  // the Referer header the browser sent with it
    std::string cookie;    // the Cookie header the browser sent with it
    std::string linkText;
    std::string fileName;  // the browser's proposed base name
    // When the browser stops waiting and keeps the download: milliseconds
    // since the Unix epoch (UTC), by this machine's clock.
    std::optional<std::int64_t> deadline;
};

struct ParsedMessage {
    bool ok = false;
    DownloadMessage message;
    // The id as JSON text, to be echoed; empty when absent or not a number.
    std::string idText;
    // Why the message is bad, a plain sentence.
    std::string error;
};

// Any bytes: invalid UTF-8 or JSON, another value than an object, a missing
// "url", a mistyped field or a field holding a zero character is a bad
// message.
ParsedMessage ParseMessage(const std::string& body);

enum class ReplyReason {
    kTaken,
    kSwitchOff,
    kScheme,
    kNotInList,
    kDeclined,
    kUnreachable,
    kTimedOut,
    kBusy,
    kBadMessage,
};

// "taken", "switch-off", "scheme", "not-in-list", "declined", "unreachable",
// "timed-out", "busy", "bad-message".
const char* ReasonName(ReplyReason reason) noexcept;

struct Reply {
    std::string idText;  // echoed when not empty
    ReplyReason reason = ReplyReason::kBadMessage;
    std::string detail;  // a plain sentence for a person
    bool late = false;   // taken after the reply to the same id said otherwise
};

// The reply's JSON, at most kMaxReplyBytes (frame.h): past that, without
// its detail.
std::string ReplyJson(const Reply& reply);

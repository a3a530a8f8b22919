#pragma once

// The host's messages and replies, UTF-8 JSON. One message per download:
//
//   {"id": 7, "url": "<final URL>", "referrer": "...", "cookie": "a=1; b=2",
//    "linkText": "...", "filename": "a.zip", "deadline": 1765270000000}
//   {"id": 7, "taken": false, "reason": "not-in-list", "detail": "..."}
//
// "url" is required; every other field is optional (empty, no deadline, not
// asked). "userAsked": true marks a link the user sent: only the scheme rule
// applies. A present field of the wrong type is a bad message; unknown fields
// are ignored. "id" is echoed so that the extension can match a reply to its
// download. An offer given up at its bound that the agent takes after all
// gets a second reply, {"id": 7, "taken": true, "reason": "taken", "late":
// true, "detail": "..."}.
//
// A message with "type": "settings" asks for the download manager's settings
// as the hand-off reads them, for the extension's options page:
//
//   {"id": 8, "type": "settings"}
//   {"id": 8, "settings": {"monitorBrowsers": 1, "switchOn": true,
//    "extendNames": [".zip", ".rar"], "configFile": "C:\\...\\UserConfig.ini",
//    "configFound": true}}
//
// What became of offers a stopped worker left with the host (offer_log.h),
// each named by the id and deadline its message had; the host answers those
// it holds a record of, and forgets them when asked:
//
//   {"id": 9, "type": "outcomes", "offers": [{"id": 41, "deadline": 1765270012000}]}
//   {"id": 9, "outcomes": [{"id": 41, "deadline": 1765270012000, "taken": true,
//    "at": 1765270001234}]}
//   {"id": 10, "type": "forget-outcomes", "offers": [...]}
//   {"id": 10, "forgotten": 1}
//
// "taken" is null while the agent was asked and had not answered when the
// host last wrote. A message without "type" is an offer; any other type is a
// bad message.
//
// The host is the input boundary (input_text.h): a control character in the
// URL, cookie or referrer makes an offer bad; the link's text loses its
// controls and bidirectional overrides, and a lone surrogate in it becomes
// U+FFFD.

#include "native_host/offer_log.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct DownloadMessage {
    std::string url;       // after redirects: the one the decision and the agent see
    std::string referrer;  // the Referer header the browser sent with it
    std::string cookie;    // the Cookie header the browser sent with it
    std::string linkText;
    std::string fileName;  // the browser's proposed base name
    // When the browser stops waiting and keeps the download: milliseconds
    // since the Unix epoch (UTC), by this machine's clock.
    std::optional<std::int64_t> deadline;
    // The user sent this link: past the switch and the list.
    bool userAsked = false;
};

enum class MessageKind {
    kOffer,
    kSettings,
    kOutcomes,
    kForgetOutcomes,
};

struct ParsedMessage {
    bool ok = false;
    MessageKind kind = MessageKind::kOffer;
    DownloadMessage message;       // an offer's
    std::vector<OfferKey> offers;  // those an outcomes or forget message names
    // The id as JSON text, to be echoed; empty when absent or not a number.
    std::string idText;
    // Why the message is bad, a plain sentence.
    std::string error;
};

// Any bytes: invalid UTF-8 or JSON, another value than an object, an unknown
// type, an offer without "url", a mistyped field, a file name holding a zero
// character, or a URL, cookie or referrer holding any control character or
// a lone surrogate is a bad message.
ParsedMessage ParseMessage(const std::string& body);

enum class ReplyReason {
    kTaken,
    kSwitchOff,
    kScheme,
    kNotInList,
    kDeclined,
    kUnreachable,
    kTimedOut,
    kNoTime,
    kBusy,
    kBadMessage,
};

// "taken", "switch-off", "scheme", "not-in-list", "declined", "unreachable",
// "timed-out", "no-time", "busy", "bad-message".
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

// The download manager's settings as the hand-off reads them from its
// "UserConfig.ini".
struct HostSettings {
    // "MonitorBrowsers" as read; none when the file does not set it (on).
    std::optional<int> monitorBrowsers;
    bool switchOn = false;
    // "ExtendNames" as the decision searches it (the file's, or the default
    // list), entries separated by ";".
    std::string extensionList;
    std::string configFile;  // the full path; empty when it cannot be had
    bool configFound = false;
};

// The reply to a settings message, its list one entry per element, empty
// entries left out.
std::string SettingsJson(const std::string& idText, const HostSettings& settings);

// The reply to an outcomes message: the records of the offers it named.
std::string OutcomesJson(const std::string& idText, const std::vector<OfferRecord>& records);

// The reply to a forget message.
std::string ForgottenJson(const std::string& idText, std::size_t forgotten);

#include "native_host/message.h"

#include "native_host/frame.h"
#include "native_host/input_text.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdint>

using nlohmann::json;

namespace {

// What a string field may hold.
enum class FieldRule {
    kRequest,  // goes into the agent's request: no control, no lone surrogate
    kShown,    // shown to the user: controls and bidirectional overrides dropped
    kName,     // read by the decision alone: no zero, which would end it early
};

struct StringField {
    const char* name;
    std::string DownloadMessage::*member;
    FieldRule rule;
};

const StringField kStringFields[] = {
    {"url", &DownloadMessage::url, FieldRule::kRequest},
    {"referrer", &DownloadMessage::referrer, FieldRule::kRequest},
    {"cookie", &DownloadMessage::cookie, FieldRule::kRequest},
    {"linkText", &DownloadMessage::linkText, FieldRule::kShown},
    {"filename", &DownloadMessage::fileName, FieldRule::kName},
};

struct MessageType {
    const char* name;
    MessageKind kind;
};

const MessageType kTypes[] = {
    {"settings", MessageKind::kSettings},
    {"outcomes", MessageKind::kOutcomes},
    {"forget-outcomes", MessageKind::kForgetOutcomes},
};

// Any number is a moment: one past what 64 bits hold is as far off as the
// largest they do, and the host bounds an offer in any case.
std::int64_t MomentOf(const json& value) {
    if (value.is_number_unsigned()) {
        const std::uint64_t moment = value.get<std::uint64_t>();
        return moment > INT64_MAX ? INT64_MAX : static_cast<std::int64_t>(moment);
    }
    if (value.is_number_integer())
        return value.get<std::int64_t>();
    const double moment = std::floor(value.get<double>());
    if (moment >= 9.2e18)
        return INT64_MAX;
    if (moment <= -9.2e18)
        return INT64_MIN;
    return static_cast<std::int64_t>(moment);
}

// The offers an outcomes or forget message names; false when "offers" is
// not a list of objects each with a numeric "id" and, if any, a numeric
// "deadline".
bool ReadOfferKeys(const json& message, std::vector<OfferKey>& keys) {
    const auto offers = message.find("offers");
    if (offers == message.end() || !offers->is_array())
        return false;
    for (const json& offer : *offers) {
        if (!offer.is_object())
            return false;
        const auto id = offer.find("id");
        const auto deadline = offer.find("deadline");
        if (id == offer.end() || !id->is_number() ||
            (deadline != offer.end() && !deadline->is_number()))
            return false;
        OfferKey key{id->dump(), std::nullopt};
        if (deadline != offer.end())
            key.deadline = MomentOf(*deadline);
        keys.push_back(std::move(key));
    }
    return true;
}

json IdOf(const std::string& idText) {
    return json::parse(idText, nullptr, false);
}

}  // namespace

ParsedMessage ParseMessage(const std::string& body) {
    ParsedMessage parsed;
    // The parser checks UTF-8 inside strings; a byte outside them is a
    // syntax error. It refuses a lone surrogate, which stands as U+FFFD here;
    // only when there was one is the message read again with another
    // stand-in, to find the fields that held it.
    std::size_t lone = 0;
    const json value = json::parse(WithLoneSurrogatesAs(body, "\\ufffd", lone), nullptr, false);
    const json marked =
        lone == 0 ? json()
                  : json::parse(WithLoneSurrogatesAs(body, "\\u0000", lone), nullptr, false);
    if (value.is_discarded()) {
        parsed.error = "The message is not well-formed UTF-8 JSON.";
        return parsed;
    }
    if (!value.is_object()) {
        parsed.error = "The message is not a JSON object.";
        return parsed;
    }
    const auto id = value.find("id");
    if (id != value.end()) {
        if (!id->is_number()) {
            parsed.error = "The field \"id\" is not a number.";
            return parsed;
        }
        parsed.idText = id->dump();
    }
    const auto type = value.find("type");
    if (type != value.end()) {
        for (const MessageType& known : kTypes) {
            if (type->is_string() && type->get<std::string>() == known.name) {
                parsed.kind = known.kind;
                parsed.ok = true;
            }
        }
        if (!parsed.ok) {
            parsed.error = "The message's \"type\" is not one the host knows.";
        } else if (parsed.kind != MessageKind::kSettings && !ReadOfferKeys(value, parsed.offers)) {
            parsed.ok = false;
            parsed.error =
                "The message's \"offers\" is not a list of offers, each with a numeric "
                "\"id\" and, if any, \"deadline\".";
        }
        return parsed;
    }
    if (value.find("url") == value.end()) {
        parsed.error = "The message has no \"url\".";
        return parsed;
    }
    for (const StringField& field : kStringFields) {
        const auto found = value.find(field.name);
        if (found == value.end())
            continue;
        if (!found->is_string()) {
            parsed.error = std::string("The field \"") + field.name + "\" is not a string.";
            return parsed;
        }
        std::string text = found->get<std::string>();
        const std::string quoted = std::string("The field \"") + field.name + "\"";
        if (field.rule == FieldRule::kRequest && lone > 0 &&
            (!marked.is_object() || marked.find(field.name) == marked.end() ||
             *marked.find(field.name) != *found)) {
            parsed.error = quoted + " holds half of a surrogate pair.";
            return parsed;
        }
        // A line break would let a page add a header to the agent's request.
        if (field.rule == FieldRule::kRequest && HasControlCharacter(text)) {
            parsed.error = quoted + " holds a control character.";
            return parsed;
        }
        // The library's strings end at their first zero.
        if (field.rule == FieldRule::kName && text.find('\0') != std::string::npos) {
            parsed.error = quoted + " holds a zero character.";
            return parsed;
        }
        parsed.message.*field.member =
            field.rule == FieldRule::kShown ? ShownText(text) : std::move(text);
    }
    const auto deadline = value.find("deadline");
    if (deadline != value.end()) {
        if (!deadline->is_number()) {
            parsed.error = "The field \"deadline\" is not a number.";
            return parsed;
        }
        parsed.message.deadline = MomentOf(*deadline);
    }
    const auto userAsked = value.find("userAsked");
    if (userAsked != value.end()) {
        if (!userAsked->is_boolean()) {
            parsed.error = "The field \"userAsked\" is not true or false.";
            return parsed;
        }
        parsed.message.userAsked = userAsked->get<bool>();
    }
    parsed.ok = true;
    return parsed;
}

const char* ReasonName(ReplyReason reason) noexcept {
    switch (reason) {
        case ReplyReason::kTaken:
            return "taken";
        case ReplyReason::kSwitchOff:
            return "switch-off";
        case ReplyReason::kScheme:
            return "scheme";
        case ReplyReason::kNotInList:
            return "not-in-list";
        case ReplyReason::kDeclined:
            return "declined";
        case ReplyReason::kUnreachable:
            return "unreachable";
        case ReplyReason::kTimedOut:
            return "timed-out";
        case ReplyReason::kNoTime:
            return "no-time";
        case ReplyReason::kBusy:
            return "busy";
        case ReplyReason::kBadMessage:
            break;
    }
    return "bad-message";
}

std::string ReplyJson(const Reply& reply) {
    json out = json::object();
    if (!reply.idText.empty())
        out["id"] = IdOf(reply.idText);
    out["taken"] = reply.reason == ReplyReason::kTaken;
    out["reason"] = ReasonName(reply.reason);
    out["detail"] = reply.detail;
    if (reply.late)
        out["late"] = true;
    // A detail that quotes the message may hold anything: bytes that are not
    // UTF-8 become U+FFFD rather than an exception.
    std::string text = out.dump(-1, ' ', false, json::error_handler_t::replace);
    if (text.size() <= kMaxReplyBytes)
        return text;
    out["detail"] = "";
    return out.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string SettingsJson(const std::string& idText, const HostSettings& settings) {
    json names = json::array();
    for (std::size_t at = 0; at <= settings.extensionList.size();) {
        std::size_t end = settings.extensionList.find(';', at);
        if (end == std::string::npos)
            end = settings.extensionList.size();
        if (end > at)
            names.push_back(settings.extensionList.substr(at, end - at));
        at = end + 1;
    }
    json out = json::object();
    if (!idText.empty())
        out["id"] = IdOf(idText);
    out["settings"] = {
        {"monitorBrowsers",
         settings.monitorBrowsers ? json(*settings.monitorBrowsers) : json(nullptr)},
        {"switchOn", settings.switchOn},
        {"extendNames", std::move(names)},
        {"configFile", settings.configFile},
        {"configFound", settings.configFound},
    };
    // The list is read in at most kExtensionListBufferSize characters and a
    // path in MAX_PATH: far below the browser's limit on a reply.
    return out.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string OutcomesJson(const std::string& idText, const std::vector<OfferRecord>& records) {
    json outcomes = json::array();
    for (const OfferRecord& record : records) {
        json outcome = {{"id", IdOf(record.key.idText)},
                        {"taken", record.state == OfferState::kAsking
                                      ? json(nullptr)
                                      : json(record.state == OfferState::kTaken)},
                        {"at", record.at}};
        if (record.key.deadline)
            outcome["deadline"] = *record.key.deadline;
        outcomes.push_back(std::move(outcome));
    }
    json out = json::object();
    if (!idText.empty())
        out["id"] = IdOf(idText);
    out["outcomes"] = std::move(outcomes);
    // At most kKeptOfferRecords of them, each a few numbers.
    return out.dump();
}

std::string ForgottenJson(const std::string& idText, std::size_t forgotten) {
    json out = json::object();
    if (!idText.empty())
        out["id"] = IdOf(idText);
    out["forgotten"] = forgotten;
    return out.dump();
}

#include "native_host/message.h"

#include "native_host/frame.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdint>

using nlohmann::json;

namespace {

struct StringField {
    const char* name;
    std::string DownloadMessage::*member;
};

const StringField kStringFields[] = {
    {"url", &DownloadMessage::url},           {"referrer", &DownloadMessage::referrer},
    {"cookie", &DownloadMessage::cookie},     {"linkText", &DownloadMessage::linkText},
    {"filename", &DownloadMessage::fileName},
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

}  // namespace

ParsedMessage ParseMessage(const std::string& body) {
    ParsedMessage parsed;
    // The parser checks UTF-8 inside strings; a byte outside them is a
    // syntax error.
    const json value = json::parse(body, nullptr, false);
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
        if (type->is_string() && type->get<std::string>() == "settings") {
            parsed.kind = MessageKind::kSettings;
            parsed.ok = true;
        } else {
            parsed.error = "The message's \"type\" is not one the host knows.";
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
        // The library's strings end at their first zero: no field may hold one.
        if (text.find('\0') != std::string::npos) {
            parsed.error = std::string("The field \"") + field.name + "\" holds a zero character.";
            return parsed;
        }
        parsed.message.*field.member = std::move(text);
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
        out["id"] = json::parse(reply.idText, nullptr, false);
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
        out["id"] = json::parse(idText, nullptr, false);
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

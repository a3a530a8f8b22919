#include "handoff/url_policy.h"

#include <cstring>

const char kDefaultExtensionList[] =
    ".asf;.avi;.exe;.iso;.mp3;.mpeg;.mpg;.mpga;.ra;.rar;.rm;.rmvb;.tar;.wma;.wmp;.wmv;.zip;";

namespace {

const char* const kSchemes[] = {"ftp://", "http://", "https://", "corvane://",
                                "mms://", "mmst://", "rtsp://",  "rtspu://"};

// Whether `text` begins with the lower-case `prefix`, ASCII case ignored.
bool StartsWithLower(const char* text, const char* prefix) noexcept {
    for (; *prefix != '\0'; ++text, ++prefix) {
        if (*text == '\0' || LowerAscii(*text) != *prefix)
            return false;
    }
    return true;
}

}  // namespace

const char* FindSupportedScheme(const char* url) noexcept {
    if (url == nullptr)
        return nullptr;
    for (const char* scheme : kSchemes) {
        if (StartsWithLower(url, scheme))
            return scheme;
    }
    return nullptr;
}

namespace {

// Finds the URL's candidate extension and looks it up, writing the
// lower-cased candidate with its ";" into `candidate` when there is one.
// Allocates nothing: this runs for every navigation that gets this far.
ExtensionVerdict::Reason LookUpExtension(const char* url, const char* list,
                                         char (&candidate)[kMaxExtensionLength + 2]) noexcept {
    candidate[0] = '\0';
    if (url == nullptr)
        return ExtensionVerdict::kNoDot;
    if (StartsWithLower(url, "corvane://"))
        return ExtensionVerdict::kCorvaneLink;

    // Both searches run over the whole URL, query included.
    const char* lastSlash = std::strrchr(url, '/');
    const char* lastDot = std::strrchr(url, '.');
    if (lastDot == nullptr)
        return ExtensionVerdict::kNoDot;
    if (lastSlash != nullptr && lastDot < lastSlash)
        return ExtensionVerdict::kDotBeforeSlash;

    // The candidate ends at the first "?" after the dot; a "#" stays in it.
    std::size_t length = 0;
    while (lastDot[length] != '\0' && lastDot[length] != '?') {
        if (++length > kMaxExtensionLength)
            return ExtensionVerdict::kTooLong;
    }
    for (std::size_t i = 0; i < length; ++i)
        candidate[i] = LowerAscii(lastDot[i]);
    candidate[length] = ';';
    candidate[length + 1] = '\0';

    const bool found = list != nullptr && std::strstr(list, candidate) != nullptr;
    return found ? ExtensionVerdict::kInList : ExtensionVerdict::kNotInList;
}

bool Matches(ExtensionVerdict::Reason reason) noexcept {
    return reason == ExtensionVerdict::kCorvaneLink || reason == ExtensionVerdict::kInList;
}

}  // namespace

ExtensionVerdict ExplainExtension(const char* url, const char* list) {
    char candidate[kMaxExtensionLength + 2];
    const ExtensionVerdict::Reason reason = LookUpExtension(url, list, candidate);
    return {reason, Matches(reason), candidate};
}

bool MatchesExtension(const char* url, const char* list) noexcept {
    char candidate[kMaxExtensionLength + 2];
    return Matches(LookUpExtension(url, list, candidate));
}

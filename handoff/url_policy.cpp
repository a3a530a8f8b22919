#include "handoff/url_policy.h"

#include <cstring>

const char kDefaultExtensionList[] =
    ".asf;.avi;.exe;.iso;.mp3;.mpeg;.mpg;.mpga;.ra;.rar;.rm;.rmvb;.tar;.wma;.wmp;.wmv;.zip;";

namespace {

const char* const kSchemes[] = {"ftp://", "http://", "https://", "corvane://",
                                "mms://", "mmst://", "rtsp://",  "rtspu://"};

char LowerAscii(char c) noexcept {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

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

ExtensionVerdict ExplainExtension(const char* url, const char* list) {
    if (url == nullptr)
        return {ExtensionVerdict::kNoDot, false, std::string()};
    if (StartsWithLower(url, "corvane://"))
        return {ExtensionVerdict::kCorvaneLink, true, {}};

    // Both searches run over the whole URL, query included.
    const char* lastSlash = std::strrchr(url, '/');
    const char* lastDot = std::strrchr(url, '.');
    if (lastDot == nullptr)
        return {ExtensionVerdict::kNoDot, false, {}};
    if (lastSlash != nullptr && lastDot < lastSlash) {
        return {ExtensionVerdict::kDotBeforeSlash, false, {}};
    }

    // The candidate ends at the first "?" after the dot; a "#" stays in it.
    std::size_t length = 0;
    while (lastDot[length] != '\0' && lastDot[length] != '?') {
        if (++length > kMaxExtensionLength)
            return {ExtensionVerdict::kTooLong, false, {}};
    }

    char candidate[kMaxExtensionLength + 2];
    for (std::size_t i = 0; i < length; ++i)
        candidate[i] = LowerAscii(lastDot[i]);
    candidate[length] = ';';
    candidate[length + 1] = '\0';

    const bool found = list != nullptr && std::strstr(list, candidate) != nullptr;
    return {found ? ExtensionVerdict::kInList : ExtensionVerdict::kNotInList, found, candidate};
}

bool MatchesExtension(const char* url, const char* list) noexcept {
    try {
        return ExplainExtension(url, list).matches;
    } catch (...) {
        return false;
    }
}

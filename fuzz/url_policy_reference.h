#pragma once

// The URL rules of the hand-off policy once more, as they read and with no
// thought for speed, written apart from the library's code: the fuzz target
// holds the library to this second, independent reading.

#include <cstring>
#include <string>

namespace reference {

inline std::string LowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// Begins with one of the eight scheme prefixes, ASCII case ignored.
inline bool IsSupportedUrl(const std::string& url) {
    const std::string lower = LowerAscii(url);
    for (const char* prefix : {"ftp://", "http://", "https://", "corvane://", "mms://", "mmst://",
                               "rtsp://", "rtspu://"}) {
        if (lower.compare(0, std::strlen(prefix), prefix) == 0)
            return true;
    }
    return false;
}

// A "corvane://" link, or the URL's extension in the list: from the last "."
// (not before the last "/") to the first "?" after it, at most 20
// characters, lower-cased, with ";", anywhere in the list as stored.
inline bool MatchesExtension(const std::string& url, const std::string& list) {
    if (LowerAscii(url.substr(0, 10)) == "corvane://")
        return true;
    const size_t dot = url.rfind('.');
    const size_t slash = url.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return false;
    const size_t query = url.find('?', dot);
    const std::string candidate =
        url.substr(dot, query == std::string::npos ? std::string::npos : query - dot);
    if (candidate.size() > 20)
        return false;
    return list.find(LowerAscii(candidate) + ";") != std::string::npos;
}

}  // namespace reference

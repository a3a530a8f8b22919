#pragma once

// The platform-free half of the hand-off policy: which URLs may be offered to
// the download agent by their scheme and extension. Strings are narrow,
// zero-terminated ANSI text; nothing here allocates or keeps state.

#include <cstddef>
#include <string>

// The extension list used when "UserConfig.ini" names none: 17 entries.
extern const char kDefaultExtensionList[];

// An extension is looked up only when it has at most this many characters,
// its dot included.
constexpr std::size_t kMaxExtensionLength = 20;

// The list is read into a buffer of this many bytes: only its first
// kExtensionListBufferSize - 1 characters are ever searched.
constexpr std::size_t kExtensionListBufferSize = 1024;

// Candidates and schemes are compared in lower case, ASCII letters only.
inline char LowerAscii(char c) noexcept {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The scheme prefix `url` begins with (ASCII letters compared without regard
// to case), in the table's order; null when none does or `url` is null.
const char* FindSupportedScheme(const char* url) noexcept;

inline bool IsSupportedUrl(const char* url) noexcept {
    return FindSupportedScheme(url) != nullptr;
}

// Why MatchesExtension answered as it did; the URL explainer prints it.
struct ExtensionVerdict {
    enum Reason {
        kCorvaneLink,     // "corvane://": the list is not consulted
        kNoDot,           // no "." anywhere in the URL
        kDotBeforeSlash,  // the last "." lies before the last "/"
        kTooLong,         // the candidate exceeds kMaxExtensionLength
        kInList,          // the lower-cased candidate with ";" occurs in the list
        kNotInList,
    };
    Reason reason;
    bool matches;
    // The lower-cased candidate with its ";", when one was looked up.
    std::string candidate;
};

ExtensionVerdict ExplainExtension(const char* url, const char* list);

// True for "corvane://" links and for URLs whose extension is in `list`.
bool MatchesExtension(const char* url, const char* list) noexcept;

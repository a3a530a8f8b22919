// Fuzzes the scheme and extension rules with the URL and the list both chosen
// by the input: the first line is the list, the rest the URL.
#include "handoff/url_policy.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t newline = input.find('\n');
    std::string list =
        newline == std::string::npos ? kDefaultExtensionList : input.substr(0, newline);
    std::string url = newline == std::string::npos ? input : input.substr(newline + 1);
    // Both are zero-terminated strings where they come from.
    list = list.c_str();
    url = url.c_str();

    const char* scheme = FindSupportedScheme(url.c_str());
    if (scheme != nullptr && url.size() < std::strlen(scheme))
        std::abort();
    const ExtensionVerdict verdict = ExplainExtension(url.c_str(), list.c_str());
    if (verdict.matches != MatchesExtension(url.c_str(), list.c_str()))
        std::abort();
    if (verdict.reason == ExtensionVerdict::kInList ||
        verdict.reason == ExtensionVerdict::kNotInList) {
        // A looked-up candidate is a dot, at most 19 more characters, and ";".
        if (verdict.candidate.size() < 2 || verdict.candidate.size() > kMaxExtensionLength + 1 ||
            verdict.candidate[0] != '.' || verdict.candidate.back() != ';') {
            std::abort();
        }
        if (verdict.matches != (list.find(verdict.candidate) != std::string::npos))
            std::abort();
    }
    return 0;
}

// Fuzzes the scheme and extension rules with the URL and the list both chosen
// by the input: the first line is the list, the rest the URL. The library's
// answers are held to an independent reading of the rules.
#include "fuzz/url_policy_reference.h"
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
    if ((scheme != nullptr) != reference::IsSupportedUrl(url))
        std::abort();
    if (scheme != nullptr &&
        reference::LowerAscii(url).compare(0, std::strlen(scheme), scheme) != 0)
        std::abort();
    if (MatchesExtension(url.c_str(), list.c_str()) != reference::MatchesExtension(url, list))
        std::abort();

    const ExtensionVerdict verdict = ExplainExtension(url.c_str(), list.c_str());
    if (verdict.reason == ExtensionVerdict::kInList ||
        verdict.reason == ExtensionVerdict::kNotInList) {
        // A looked-up candidate is a dot, at most 19 more characters, and ";".
        if (verdict.candidate.size() < 2 || verdict.candidate.size() > kMaxExtensionLength + 1 ||
            verdict.candidate[0] != '.' || verdict.candidate.back() != ';') {
            std::abort();
        }
    }
    return 0;
}

#include "agent/answer.h"

#include <cerrno>
#include <cstdlib>

namespace {
constexpr const char kHresultPrefix[] = "hresult:";
constexpr const char kSlowPrefix[] = "slow:";

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// The whole of `text` as a number of the given base (0: decimal or 0x hex),
// nothing before or after it, within [min, max].
bool ParseWhole(const std::string& text, int base, long long min, long long max,
                long long& number) {
    // strtoll would also take leading blanks and a plus sign.
    if (text.empty() || !(text[0] == '-' || (text[0] >= '0' && text[0] <= '9')))
        return false;
    errno = 0;
    char* end = nullptr;
    const long long parsed = std::strtoll(text.c_str(), &end, base);
    if (errno != 0 || end != text.c_str() + text.size() || parsed < min || parsed > max)
        return false;
    number = parsed;
    return true;
}

Answer Invalid() {
    return Answer{};
}
}  // namespace

Answer ParseAnswer(const std::string& text) {
    Answer answer;
    long long number = 0;
    if (text == "nowrite") {
        answer.kind = Answer::Kind::NoWrite;
    } else if (text == "exit") {
        answer.kind = Answer::Kind::Exit;
    } else if (StartsWith(text, kHresultPrefix)) {
        // Either spelling of the same 32 bits: 0x80004005 or -2147467259.
        if (!ParseWhole(text.substr(sizeof(kHresultPrefix) - 1), 0, INT32_MIN, UINT32_MAX, number))
            return Invalid();
        answer.kind = Answer::Kind::Fail;
        answer.value = static_cast<std::int32_t>(static_cast<std::uint32_t>(number));
    } else if (StartsWith(text, kSlowPrefix)) {
        const std::string rest = text.substr(sizeof(kSlowPrefix) - 1);
        const std::size_t colon = rest.find(':');
        if (colon == std::string::npos ||
            !ParseWhole(rest.substr(0, colon), 10, 0, kMaxAnswerDelayMs, number))
            return Invalid();
        answer = ParseAnswer(rest.substr(colon + 1));
        if (answer.kind == Answer::Kind::Invalid ||
            answer.delayMs + static_cast<std::uint32_t>(number) > kMaxAnswerDelayMs)
            return Invalid();
        answer.delayMs += static_cast<std::uint32_t>(number);
    } else if (ParseWhole(text, 10, INT32_MIN, INT32_MAX, number)) {
        answer.kind = Answer::Kind::Write;
        answer.value = static_cast<std::int32_t>(number);
    } else {
        return Invalid();
    }
    return answer;
}

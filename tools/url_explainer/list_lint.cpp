#include "tools/url_explainer/list_lint.h"

#include "handoff/url_policy.h"

namespace {

struct Entry {
    std::string text;  // without its ";"
    bool terminated;   // followed by a ";"
    std::size_t end;   // offset just past the entry and its ";"
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The entries between the semicolons; empty and blank ones are left out.
std::vector<Entry> SplitEntries(const std::string& value) {
    std::vector<Entry> entries;
    std::size_t start = 0;
    while (start < value.size()) {
        const std::size_t semicolon = value.find(';', start);
        const bool terminated = semicolon != std::string::npos;
        const std::size_t stop = terminated ? semicolon : value.size();
        std::string text = value.substr(start, stop - start);
        if (text.find_first_not_of(" \t") != std::string::npos)
            entries.push_back({text, terminated, terminated ? stop + 1 : stop});
        start = stop + 1;
    }
    return entries;
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = LowerAscii(c);
    return text;
}

std::string Suggestion(const std::string& entry) {
    std::string fixed;
    for (char c : entry) {
        if (!IsBlank(c))
            fixed += LowerAscii(c);
    }
    if (fixed.empty() || fixed[0] != '.')
        fixed.insert(0, 1, '.');
    return fixed + ";";
}

}  // namespace

std::vector<ListMistake> LintExtensionList(const std::string& value) {
    const std::vector<Entry> entries = SplitEntries(value);
    std::vector<ListMistake> mistakes;
    if (entries.empty()) {
        mistakes.push_back({ListMistake::kEmpty, "", ""});
        return mistakes;
    }
    const std::size_t readLimit = kExtensionListBufferSize - 1;
    bool pastLimitReported = false;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        auto add = [&](ListMistake::Kind kind) {
            mistakes.push_back({kind, e.text, Suggestion(e.text)});
        };
        const std::size_t firstVisible = e.text.find_first_not_of(" \t");
        if (Lower(e.text) != e.text)
            add(ListMistake::kUpperCase);
        if (e.text[firstVisible] != '.')
            add(ListMistake::kNoLeadingDot);
        if (e.text.find_first_of(" \t") != std::string::npos)
            add(ListMistake::kSpace);
        if (e.text.size() > kMaxExtensionLength)
            add(ListMistake::kTooLong);
        if (!e.terminated)
            add(ListMistake::kNoClosingSemicolon);
        for (std::size_t j = 0; j < i; ++j) {
            if (entries[j].text == e.text) {
                add(ListMistake::kRepeated);
                break;
            }
        }
        // Only the first entry cut off is named: every later one goes with it.
        if (e.end > readLimit && !pastLimitReported) {
            add(ListMistake::kPastReadLimit);
            pastLimitReported = true;
        }
    }
    return mistakes;
}

NearMiss FindNearMiss(const std::string& candidate, const std::string& list) {
    NearMiss miss;
    for (const Entry& e : SplitEntries(list)) {
        const std::string lower = Lower(e.text);
        const bool capitals = lower != e.text;
        if (!capitals && e.terminated)
            continue;  // as written it is searched already
        if ((lower + ";").find(candidate) != std::string::npos) {
            miss.found = true;
            miss.capitals = capitals;
            miss.missingSemicolon = !e.terminated;
            miss.entry = e.text;
            return miss;
        }
    }
    return miss;
}
